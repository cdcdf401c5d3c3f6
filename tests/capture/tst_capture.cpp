#include "StoreFixture.h"

#include "capture/ClipboardCapture.h"
#include "capture/ContentHash.h"
#include "capture/SaveContext.h"
#include "platform/log/Log.h"

#include <QBuffer>
#include <QImage>
#include <QThread>

#include <algorithm>

namespace {

ClipboardPayload textPayload(const QString &text, std::optional<QString> app = std::nullopt,
                             std::optional<QString> bundle = std::nullopt)
{
    return {ClipboardPayload::Text{text, std::nullopt}, std::move(app), std::move(bundle)};
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, format) ? bytes : QByteArray();
}

struct CaptureFixture {
    StoreFixture store;
    ClipboardCapture capture{*store.container, store.defaults};

    void add(ClipboardPayload payload)
    {
        QVERIFY(completes([&](auto done) { capture.capture(std::move(payload), done); }));
    }
    void add(const QString &text, std::optional<QString> app = std::nullopt, std::optional<QString> bundle = std::nullopt)
    {
        add(textPayload(text, std::move(app), std::move(bundle)));
    }

    // Changes one item in the view context and saves it, as the shelf does.
    void editInView(const QString &text, const std::function<void(ClipItem &)> &edit)
    {
        for (const ClipItemPtr &item : store.items()) {
            if (item->plainText() == text) {
                edit(*item);
                QVERIFY(saveContext(store.view(), QStringLiteral("test edit")));
                return;
            }
        }
        QFAIL("no such item");
    }
};

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fillsEachKindAndHashesStoredValues()
    {
        CaptureFixture f;
        f.add({ClipboardPayload::Text{QStringLiteral(" spaced "), QByteArray("{\\rtf1 x}")},
               QStringLiteral("Kate"), QStringLiteral("org.kde.kate")});
        f.add({ClipboardPayload::File{QStringLiteral("a.txt, b.png"), QStringLiteral("/x/a.txt\n/y/b.png")}, std::nullopt, std::nullopt});
        QImage image(4000, 1000, QImage::Format_RGB32);
        image.fill(Qt::blue);
        f.add({ClipboardPayload::Image{encoded(image, "tiff")}, std::nullopt, std::nullopt});
        f.add({ClipboardPayload::Image{QByteArray("not an image")}, std::nullopt, std::nullopt});

        const QList<ClipItemPtr> items = f.store.items();
        QCOMPARE(items.size(), 4);

        const ClipItem &garbage = *items.at(0);
        QCOMPARE(garbage.storedKind(), QStringLiteral("image"));
        QCOMPARE(garbage.imageData(), QByteArray("not an image"));

        const ClipItem &picture = *items.at(1);
        QCOMPARE(QImage::fromData(*picture.imageData(), "png").size(), QSize(2000, 500));
        QCOMPARE(picture.contentHash(), computeContentHash(std::nullopt, picture.imageData()));
        QVERIFY(!picture.plainText());

        const ClipItem &files = *items.at(2);
        QCOMPARE(files.storedKind(), QStringLiteral("file"));
        QCOMPARE(files.fileName(), QStringLiteral("a.txt, b.png"));
        QCOMPARE(files.plainText(), QStringLiteral("/x/a.txt\n/y/b.png"));
        QVERIFY(!files.sourceAppName());

        const ClipItem &text = *items.at(3);
        QCOMPARE(text.storedKind(), QStringLiteral("text"));
        QCOMPARE(text.plainText(), QStringLiteral(" spaced "));
        QCOMPARE(text.rtfData(), QByteArray("{\\rtf1 x}"));
        QCOMPARE(text.sourceAppName(), QStringLiteral("Kate"));
        QCOMPARE(text.sourceBundleID(), QStringLiteral("org.kde.kate"));
        QCOMPARE(text.contentHash(), computeContentHash(QStringLiteral(" spaced "), std::nullopt));
        QVERIFY(text.id());
        QVERIFY(text.createdAt());
        QVERIFY(!text.isPinned());
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
            f.add(QStringLiteral("t%1").arg(i));
        const QStringList texts = f.store.texts();
        QCOMPARE(texts.size(), kept);
        QCOMPARE(texts.first(), QStringLiteral("t%1").arg(kept));
        QCOMPARE(texts.last(), QStringLiteral("t1"));
    }

    void pinnedItemsBeyondTheLimitStay()
    {
        CaptureFixture f;
        qint64 limit = 500;
        f.capture.setHistoryLimit([&] { return limit; });
        for (int i = 0; i < 55; ++i)
            f.add(QStringLiteral("pinned %1").arg(i));
        for (const ClipItemPtr &item : f.store.items())
            item->setPinned(true);
        QVERIFY(saveContext(f.store.view(), QStringLiteral("pin all")));
        limit = 50;
        for (int i = 0; i < 80; ++i)
            f.add(QStringLiteral("loose %1").arg(i));
        const QList<ClipItemPtr> items = f.store.items();
        QCOMPARE(items.size(), 55 + 51);
        QCOMPARE(std::count_if(items.begin(), items.end(), [](const ClipItemPtr &item) { return item->isPinned(); }), 55);
    }

    void recopyMovesToFrontKeepingPinLabelTitleAndSource()
    {
        CaptureFixture f;
        f.add(QStringLiteral("T"), QStringLiteral("Kate"), QStringLiteral("org.kde.kate"));
        const QUuid firstId = *f.store.items().first()->id();
        f.editInView(QStringLiteral("T"), [](ClipItem &item) {
            item.setPinned(true);
            item.setTitle(QStringLiteral("  word \n"));
            item.setLabelID(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
        });
        f.add(QStringLiteral("other"));
        // Copied again while the screen was locked: no source of its own.
        f.add(QStringLiteral("T"));

        QTRY_COMPARE(f.store.texts(), (QStringList{QStringLiteral("T"), QStringLiteral("other")}));
        const ClipItemPtr survivor = f.store.items().first();
        QVERIFY(survivor->isPinned());
        QCOMPARE(survivor->title(), QStringLiteral("word"));
        QCOMPARE(survivor->labelID(), QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
        QCOMPARE(survivor->sourceAppName(), QStringLiteral("Kate"));
        QCOMPARE(survivor->sourceBundleID(), QStringLiteral("org.kde.kate"));
        QVERIFY(*survivor->id() != firstId);

        // A copy with a source of its own replaces the older source.
        f.add(QStringLiteral("T"), QStringLiteral("XTerm"));
        QCOMPARE(f.store.items().size(), 2);
        QCOMPARE(f.store.items().first()->sourceAppName(), QStringLiteral("XTerm"));
        QVERIFY(!f.store.items().first()->sourceBundleID());
    }

    void textEqualToFilePathsIsNotADuplicate()
    {
        CaptureFixture f;
        f.add({ClipboardPayload::File{QStringLiteral("a"), QStringLiteral("/tmp/a")}, std::nullopt, std::nullopt});
        f.add(QStringLiteral("/tmp/a"));
        const QList<ClipItemPtr> items = f.store.items();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(0)->contentHash(), items.at(1)->contentHash());
    }

    void failedSaveChangesNothingLogsOnceAndCompletes()
    {
        CaptureFixture f;
        f.add(QStringLiteral("kept"));
        f.add(QStringLiteral("other"));
        f.store.execSql("CREATE TRIGGER inject_failure BEFORE INSERT ON ClipItem "
                        "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");

        klog::Recorder recorder;
        // Would absorb "kept" if the save went through.
        f.add(QStringLiteral("kept"));
        const QStringList errors = recorder.messages(klog::Category::Capture, klog::Level::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QStringLiteral("capture save failed: ")), qPrintable(errors.first()));
        QCOMPARE(f.store.texts(), (QStringList{QStringLiteral("other"), QStringLiteral("kept")}));
        QVERIFY(!f.capture.context().hasChanges());

        f.store.execSql("DROP TRIGGER inject_failure");
        f.add(QStringLiteral("kept"));
        QCOMPARE(f.store.texts(), (QStringList{QStringLiteral("kept"), QStringLiteral("other")}));
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
        ClipboardPayload payload = textPayload(QString(50 * 1024 * 1024, QLatin1Char('x')));
        if (image) {
            QImage picture(5472, 3648, QImage::Format_RGB32);
            picture.fill(Qt::darkGreen);
            payload = {ClipboardPayload::Image{encoded(picture, "png")}, std::nullopt, std::nullopt};
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
