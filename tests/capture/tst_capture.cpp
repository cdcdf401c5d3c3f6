#include "StoreFixture.h"

#include "capture/ClipboardCapture.h"
#include "capture/ContentHash.h"
#include "capture/SaveContext.h"
#include "platform/log/Log.h"

#include <QBuffer>
#include <QImage>
#include <QThread>

namespace {

ClipboardPayload textPayload(const QString &text, std::optional<QString> app = std::nullopt,
                             std::optional<QString> bundle = std::nullopt)
{
    return {ClipboardPayload::Text{text, std::nullopt}, std::move(app), std::move(bundle)};
}

// Captures and waits for the completion.
void captureAndWait(ClipboardCapture &capture, ClipboardPayload payload)
{
    std::atomic<bool> done = false;
    capture.capture(std::move(payload), [&] { done = true; });
    QVERIFY(waitFor(done));
}

// Changes one item in the view context and saves it, as the shelf does.
void editInView(StoreFixture &store, const QString &text, const std::function<void(ClipItem &)> &edit)
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

qint64 countUnpinned(StoreFixture &store)
{
    qint64 n = 0;
    for (const ClipItemPtr &item : store.items())
        n += item->isPinned() ? 0 : 1;
    return n;
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fillsEachKindAndHashesStoredValues()
    {
        StoreFixture store;
        ClipboardCapture capture(*store.container, store.defaults);
        captureAndWait(capture, {ClipboardPayload::Text{QStringLiteral(" spaced "), QByteArray("{\\rtf1 x}")},
                                 QStringLiteral("Kate"), QStringLiteral("org.kde.kate")});
        captureAndWait(capture, {ClipboardPayload::File{QStringLiteral("a.txt, b.png"), QStringLiteral("/x/a.txt\n/y/b.png")},
                                 std::nullopt, std::nullopt});
        QImage image(4000, 1000, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QByteArray tiff;
        QBuffer buffer(&tiff);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&buffer, "tiff"));
        captureAndWait(capture, {ClipboardPayload::Image{tiff}, std::nullopt, std::nullopt});
        captureAndWait(capture, {ClipboardPayload::Image{QByteArray("not an image")}, std::nullopt, std::nullopt});

        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 4);

        const ClipItem &garbage = *items.at(0);
        QCOMPARE(garbage.storedKind(), QStringLiteral("image"));
        QCOMPARE(garbage.imageData(), QByteArray("not an image"));

        const ClipItem &picture = *items.at(1);
        const QImage stored = QImage::fromData(*picture.imageData(), "png");
        QCOMPARE(stored.size(), QSize(2000, 500));
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

    void historyLimitCountsSavedUnpinnedItemsOnly()
    {
        StoreFixture store;
        ClipboardCapture capture(*store.container, store.defaults);
        for (int i = 0; i < 501; ++i)
            captureAndWait(capture, textPayload(QStringLiteral("text %1").arg(i)));
        QCOMPARE(store.items().size(), 501);
        captureAndWait(capture, textPayload(QStringLiteral("text 501")));
        const QStringList texts = store.texts();
        QCOMPARE(texts.size(), 501);
        QCOMPARE(texts.first(), QStringLiteral("text 501"));
        QCOMPARE(texts.last(), QStringLiteral("text 1"));
    }

    void smallLimitsActAsFifty_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::newRow("10") << qint64(10);
        QTest::newRow("0") << qint64(0);
        QTest::newRow("negative") << qint64(-7);
    }

    void smallLimitsActAsFifty()
    {
        QFETCH(qint64, limit);
        StoreFixture store;
        store.defaults.setInteger(SettingsKey::historyLimit, limit);
        ClipboardCapture capture(*store.container, store.defaults);
        for (int i = 0; i < 60; ++i)
            captureAndWait(capture, textPayload(QStringLiteral("t%1").arg(i)));
        QCOMPARE(store.items().size(), 51);
    }

    void pinnedItemsBeyondTheLimitStay()
    {
        StoreFixture store;
        ClipboardCapture capture(*store.container, store.defaults);
        qint64 limit = 500;
        capture.setHistoryLimit([&] { return limit; });
        for (int i = 0; i < 55; ++i)
            captureAndWait(capture, textPayload(QStringLiteral("pinned %1").arg(i)));
        for (const ClipItemPtr &item : store.items())
            item->setPinned(true);
        QVERIFY(saveContext(store.view(), QStringLiteral("pin all")));
        limit = 50;
        for (int i = 0; i < 80; ++i)
            captureAndWait(capture, textPayload(QStringLiteral("loose %1").arg(i)));
        QCOMPARE(store.items().size(), 55 + 51);
        QCOMPARE(countUnpinned(store), 51);
    }

    void recopyMovesToFrontKeepingPinLabelAndTrimmedTitle()
    {
        StoreFixture store;
        ClipboardCapture capture(*store.container, store.defaults);
        captureAndWait(capture, textPayload(QStringLiteral("T"), QStringLiteral("Kate"), QStringLiteral("org.kde.kate")));
        const QUuid firstId = *store.items().first()->id();
        editInView(store, QStringLiteral("T"), [](ClipItem &item) {
            item.setPinned(true);
            item.setTitle(QStringLiteral("  word \n"));
            item.setLabelID(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
        });
        captureAndWait(capture, textPayload(QStringLiteral("other")));
        // Copied again while the screen was locked: no source of its own.
        captureAndWait(capture, textPayload(QStringLiteral("T")));

        QTRY_COMPARE(store.texts(), (QStringList{QStringLiteral("T"), QStringLiteral("other")}));
        const ClipItemPtr survivor = store.items().first();
        QVERIFY(survivor->isPinned());
        QCOMPARE(survivor->title(), QStringLiteral("word"));
        QCOMPARE(survivor->labelID(), QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
        QCOMPARE(survivor->sourceAppName(), QStringLiteral("Kate"));
        QCOMPARE(survivor->sourceBundleID(), QStringLiteral("org.kde.kate"));
        QVERIFY(*survivor->id() != firstId);
    }

    void newSourceWinsOverOlderOne()
    {
        StoreFixture store;
        ClipboardCapture capture(*store.container, store.defaults);
        captureAndWait(capture, textPayload(QStringLiteral("T"), QStringLiteral("Kate"), QStringLiteral("org.kde.kate")));
        captureAndWait(capture, textPayload(QStringLiteral("T"), QStringLiteral("XTerm")));
        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.first()->sourceAppName(), QStringLiteral("XTerm"));
        QVERIFY(!items.first()->sourceBundleID());
    }

    void textEqualToFilePathsIsNotADuplicate()
    {
        StoreFixture store;
        ClipboardCapture capture(*store.container, store.defaults);
        captureAndWait(capture, {ClipboardPayload::File{QStringLiteral("a"), QStringLiteral("/tmp/a")}, std::nullopt, std::nullopt});
        captureAndWait(capture, textPayload(QStringLiteral("/tmp/a")));
        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(0)->contentHash(), items.at(1)->contentHash());
    }

    void failedSaveChangesNothingLogsOnceAndCompletes()
    {
        StoreFixture store;
        ClipboardCapture capture(*store.container, store.defaults);
        captureAndWait(capture, textPayload(QStringLiteral("kept")));
        captureAndWait(capture, textPayload(QStringLiteral("other")));
        store.execSql("CREATE TRIGGER inject_failure BEFORE INSERT ON ClipItem "
                      "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");

        klog::Recorder recorder;
        // Would absorb "kept" if the save went through.
        captureAndWait(capture, textPayload(QStringLiteral("kept")));
        const QStringList errors = recorder.messages(klog::Category::Capture, klog::Level::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QStringLiteral("capture save failed: ")), qPrintable(errors.first()));
        QCOMPARE(store.texts(), (QStringList{QStringLiteral("other"), QStringLiteral("kept")}));
        QVERIFY(!capture.context().hasChanges());

        store.execSql("DROP TRIGGER inject_failure");
        captureAndWait(capture, textPayload(QStringLiteral("kept")));
        QCOMPARE(store.texts(), (QStringList{QStringLiteral("kept"), QStringLiteral("other")}));
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
        StoreFixture store;
        ClipboardCapture capture(*store.container, store.defaults);
        ClipboardPayload payload = textPayload(QString(50 * 1024 * 1024, QLatin1Char('x')));
        if (image) {
            QImage picture(5472, 3648, QImage::Format_RGB32);
            picture.fill(Qt::darkGreen);
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(picture.save(&buffer, "png"));
            payload = {ClipboardPayload::Image{png}, std::nullopt, std::nullopt};
        }

        std::atomic<bool> done = false;
        std::atomic<bool> ranOnMainThread = true;
        QThread *mainThread = QThread::currentThread();
        capture.capture(std::move(payload), [&] {
            ranOnMainThread = QThread::currentThread() == mainThread;
            done = true;
        });
        QVERIFY(waitFor(done, 60000));
        QVERIFY(!ranOnMainThread);
        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 1);
        if (image)
            QCOMPARE(QImage::fromData(*items.first()->imageData(), "png").size(), QSize(2000, 1333));
        else
            QCOMPARE(items.first()->plainText()->size(), 50 * 1024 * 1024);
    }
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
