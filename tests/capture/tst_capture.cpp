#include "StoreFixture.h"

#include "capture/ClipboardCapture.h"
#include "capture/ContentHash.h"
#include "capture/SaveContext.h"
#include "platform/log/Log.h"

#include <QBuffer>
#include <QImage>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

ClipboardPayload textPayload(const QString &text, std::optional<QString> app = {}, std::optional<QString> bundle = {})
{
    return {ClipboardPayload::Text{text, std::nullopt}, std::move(app), std::move(bundle)};
}

ClipboardPayload imagePayload(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return {ClipboardPayload::Image{bytes}, std::nullopt, std::nullopt};
}

struct CaptureFixture {
    StoreFixture store;
    ClipboardCapture capture{*store.container, store.defaults};

    void add(ClipboardPayload payload)
    {
        QVERIFY(completes([&](auto done) { capture.capture(std::move(payload), done); }));
    }
    void add(const QString &text, std::optional<QString> app = {}, std::optional<QString> bundle = {})
    {
        add(textPayload(text, std::move(app), std::move(bundle)));
    }
};

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each kind is stored as such and hashed from what is stored; a text equal to a file's
    // paths has the same hash but is not its duplicate.
    void fillsEachKindAndHashesStoredValues()
    {
        CaptureFixture f;
        f.add({ClipboardPayload::Text{u" spaced "_s, QByteArray("{\\rtf1 x}")}, u"Kate"_s, u"org.kde.kate"_s});
        f.add({ClipboardPayload::File{u"a.txt, b.png"_s, u"/x/a.txt\n/y/b.png"_s}, std::nullopt, std::nullopt});
        f.add(u"/x/a.txt\n/y/b.png"_s);
        QImage image(4000, 1000, QImage::Format_RGB32);
        image.fill(Qt::blue);
        f.add(imagePayload(image, "tiff"));
        f.add({ClipboardPayload::Image{QByteArray("not an image")}, std::nullopt, std::nullopt});

        const QList<ClipItemPtr> items = f.store.items();
        QCOMPARE(items.size(), 5);
        QCOMPARE(items.at(0)->storedKind(), u"image"_s);
        QCOMPARE(items.at(0)->imageData(), QByteArray("not an image"));

        const ClipItem &picture = *items.at(1);
        QCOMPARE(QImage::fromData(*picture.imageData(), "png").size(), QSize(2000, 500));
        QCOMPARE(picture.contentHash(), computeContentHash(std::nullopt, picture.imageData()));
        QVERIFY(!picture.plainText());

        QCOMPARE(items.at(2)->storedKind(), u"text"_s);
        const ClipItem &files = *items.at(3);
        QCOMPARE(files.storedKind(), u"file"_s);
        QCOMPARE(files.fileName(), u"a.txt, b.png"_s);
        QCOMPARE(files.plainText(), u"/x/a.txt\n/y/b.png"_s);
        QCOMPARE(files.contentHash(), items.at(2)->contentHash());

        const ClipItem &text = *items.at(4);
        QCOMPARE(text.plainText(), u" spaced "_s);
        QCOMPARE(text.rtfData(), QByteArray("{\\rtf1 x}"));
        QCOMPARE(text.sourceAppName(), u"Kate"_s);
        QCOMPARE(text.sourceBundleID(), u"org.kde.kate"_s);
        QCOMPARE(text.contentHash(), computeContentHash(u" spaced "_s, std::nullopt));
        QVERIFY(text.id() && text.createdAt() && !text.isPinned());
    }

    // Limits under 50 act as 50; the limit counts saved items, so one more stays until the next capture.
    void historyLimitKeepsTheNewest_data()
    {
        QTest::addColumn<std::optional<qint64>>("limit");
        QTest::addColumn<int>("kept");
        QTest::newRow("default 500") << std::optional<qint64>() << 501;
        QTest::newRow("10") << std::optional<qint64>(10) << 51;
        QTest::newRow("0") << std::optional<qint64>(0) << 51;
        QTest::newRow("negative") << std::optional<qint64>(-7) << 51;
    }

    void historyLimitKeepsTheNewest()
    {
        QFETCH(std::optional<qint64>, limit);
        QFETCH(int, kept);
        CaptureFixture f;
        if (limit)
            f.store.defaults.setInteger(SettingsKey::historyLimit, *limit);
        for (int i = 0; i <= kept; ++i)
            f.add(u"t%1"_s.arg(i));
        const QStringList texts = f.store.texts();
        QCOMPARE(texts.size(), kept);
        QCOMPARE(texts.first(), u"t%1"_s.arg(kept));
        QCOMPARE(texts.last(), u"t1"_s);
    }

    void pinnedItemsBeyondTheLimitStay()
    {
        CaptureFixture f;
        qint64 limit = 500;
        f.capture.setHistoryLimit([&] { return limit; });
        for (int i = 0; i < 55; ++i)
            f.add(u"pinned %1"_s.arg(i));
        for (const ClipItemPtr &item : f.store.items())
            item->setPinned(true);
        QVERIFY(saveContext(f.store.view(), u"pin all"_s));
        limit = 50;
        for (int i = 0; i < 80; ++i)
            f.add(u"loose %1"_s.arg(i));
        const QList<ClipItemPtr> items = f.store.items();
        QCOMPARE(items.size(), 55 + 51);
        QCOMPARE(std::count_if(items.begin(), items.end(), [](const ClipItemPtr &item) { return item->isPinned(); }), 55);
    }

    void recopyMovesToFrontKeepingPinLabelTitleAndSource()
    {
        CaptureFixture f;
        f.add(u"T"_s, u"Kate"_s, u"org.kde.kate"_s);
        const ClipItemPtr first = f.store.items().first();
        const QUuid firstId = *first->id();
        first->setPinned(true);
        first->setTitle(u"  word \n"_s);
        first->setLabelID(u"6F9619FF-8B86-D011-B42D-00C04FC964FF"_s);
        QVERIFY(saveContext(f.store.view(), u"test edit"_s));
        f.add(u"other"_s);
        // Copied again while the screen was locked: no source of its own.
        f.add(u"T"_s);

        QTRY_COMPARE(f.store.texts(), (QStringList{u"T"_s, u"other"_s}));
        const ClipItemPtr survivor = f.store.items().first();
        QVERIFY(survivor->isPinned());
        QCOMPARE(survivor->title(), u"word"_s);
        QCOMPARE(survivor->labelID(), u"6F9619FF-8B86-D011-B42D-00C04FC964FF"_s);
        QCOMPARE(survivor->sourceAppName(), u"Kate"_s);
        QCOMPARE(survivor->sourceBundleID(), u"org.kde.kate"_s);
        QVERIFY(*survivor->id() != firstId);

        // A copy with a source of its own replaces the older source.
        f.add(u"T"_s, u"XTerm"_s);
        QCOMPARE(f.store.items().size(), 2);
        QCOMPARE(f.store.items().first()->sourceAppName(), u"XTerm"_s);
        QVERIFY(!f.store.items().first()->sourceBundleID());
    }

    void failedSaveChangesNothingLogsOnceAndCompletes()
    {
        CaptureFixture f;
        f.add(u"kept"_s);
        f.add(u"other"_s);
        f.store.execSql("CREATE TRIGGER inject_failure BEFORE INSERT ON ClipItem "
                        "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");

        klog::Recorder recorder;
        f.add(u"kept"_s); // would absorb the older "kept" if the save went through
        const QStringList errors = recorder.messages(klog::Category::Capture, klog::Level::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(u"capture save failed: "_s), qPrintable(errors.first()));
        QCOMPARE(f.store.texts(), (QStringList{u"other"_s, u"kept"_s}));
        QVERIFY(!f.capture.context().hasChanges());

        f.store.execSql("DROP TRIGGER inject_failure");
        f.add(u"kept"_s);
        QCOMPARE(f.store.texts(), (QStringList{u"kept"_s, u"other"_s}));
    }

    // Quitting destroys the capture while copies wait on its queue: they are still saved.
    void queuedCapturesFinishWhenTheCaptureIsDestroyed()
    {
        StoreFixture store;
        QSemaphore gate;
        std::thread opener;
        {
            ClipboardCapture capture(*store.container, store.defaults);
            // Holds the queue, so the copies below are still waiting when destruction starts.
            capture.context().perform([&gate] { gate.acquire(); });
            capture.capture(textPayload(u"first"_s));
            capture.capture(textPayload(u"last words"_s));
            opener = std::thread([&gate] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                gate.release();
            });
        }
        opener.join();
        QCOMPARE(store.texts(), (QStringList{u"last words"_s, u"first"_s}));
    }

    void largeContentIsCapturedOffTheMainThread_data()
    {
        QTest::addColumn<bool>("image");
        QTest::newRow("50 MB text") << false;
        QTest::newRow("20 megapixel image") << true;
    }

    void largeContentIsCapturedOffTheMainThread()
    {
        QFETCH(bool, image);
        CaptureFixture f;
        ClipboardPayload payload = textPayload(QString(50 * 1024 * 1024, u'x'));
        if (image) {
            QImage picture(5472, 3648, QImage::Format_RGB32);
            picture.fill(Qt::darkGreen);
            payload = imagePayload(picture, "png");
        }
        std::atomic<bool> done = false;
        std::atomic<bool> ranOnMainThread = true;
        QThread *mainThread = QThread::currentThread();
        f.capture.capture(std::move(payload), [&] {
            ranOnMainThread = QThread::currentThread() == mainThread;
            done = true;
        });
        QVERIFY(waitFor(done, 60000));
        QVERIFY(!ranOnMainThread);
        const QList<ClipItemPtr> items = f.store.items();
        QCOMPARE(items.size(), 1);
        if (image)
            QCOMPARE(QImage::fromData(*items.first()->imageData(), "png").size(), QSize(2000, 1333));
        else
            QCOMPARE(items.first()->plainText()->size(), 50 * 1024 * 1024);
    }
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
