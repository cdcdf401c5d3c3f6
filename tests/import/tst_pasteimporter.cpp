#include "../capture/StoreFixture.h"
#include "ReaderFixture.h"

#include "capture/ContentHash.h"
#include "capture/ImageNormalization.h"
#include "capture/SaveContext.h"
#include "import/PasteImporter.h"
#include "platform/log/Log.h"
#include "store/ClipLabel.h"

#include <QImage>

using namespace pasteblob;
using Item = PasteDatabaseBuilder::Item;

namespace {

const QDateTime referenceDate = QDateTime::fromSecsSinceEpoch(978307200, Qt::UTC);

Item textItem(const QString &text, double seconds, QVariant list = {}, QVariant title = {})
{
    Item item;
    item.createdAt = seconds;
    item.pasteboard = textArchive(text);
    item.list = std::move(list);
    item.title = std::move(title);
    return item;
}

// Imports what `fill` puts in a new Paste database.
Expected<PasteImportSummary, PasteReadFailure> importBuilt(StoreFixture &store,
                                                           const std::function<void(PasteDatabaseBuilder &)> &fill,
                                                           qint64 historyLimit = 500,
                                                           std::function<bool()> isCancelled = [] { return false; })
{
    ReaderFixture paste;
    {
        PasteDatabaseBuilder builder(paste.databasePath());
        fill(builder);
    }
    PasteImporter importer(*store.container, store.defaults);
    importer.setHistoryLimit([historyLimit] { return historyLimit; });
    return importer.importHistory(paste.folder(), isCancelled, [](PasteDatabaseReader::Progress) {});
}

QList<ClipLabelPtr> labels(StoreFixture &store)
{
    FetchRequest request = FetchRequest::of<ClipLabel>();
    request.setSortDescriptors({{QStringLiteral("createdAt"), true}});
    const auto found = store.view().fetch<ClipLabel>(request);
    return found ? *found : QList<ClipLabelPtr>();
}

ClipItemPtr itemWithText(StoreFixture &store, const QString &text)
{
    for (const ClipItemPtr &item : store.items()) {
        if (item->plainText() == text)
            return item;
    }
    return nullptr;
}

// An item saved in the store before the import, as a capture would have made it.
ClipItemPtr addLocalItem(StoreFixture &store, const QString &text, const QDateTime &createdAt)
{
    const auto item = store.view().insert<ClipItem>();
    item->setKind(ClipKind::Text);
    item->setPlainText(text);
    item->setId(QUuid::createUuid());
    item->setCreatedAt(createdAt);
    item->setContentHash(computeContentHash(text, std::nullopt));
    return item;
}

QString saveLabel(StoreFixture &store, const QString &name)
{
    const auto label = store.view().insert<ClipLabel>();
    const QUuid id = QUuid::createUuid();
    label->setId(id);
    label->setName(name);
    label->setCreatedAt(QDateTime::currentDateTimeUtc());
    return uuidString(id);
}

} // namespace

class TestPasteImporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void importsEachKindWithPastesDatesAndSources()
    {
        StoreFixture store;
        const auto summary = importBuilt(store, [](PasteDatabaseBuilder &builder) {
            Item text = textItem(QStringLiteral("plain"), 300.0, {}, QStringLiteral(" Note "));
            text.app = builder.addApp(QStringLiteral("org.kde.kate"), QStringLiteral("Kate"));
            text.pasteboard = testarchive::binaryPlist(QVariantList{testarchive::item(
                {{utf8Type, QByteArray("plain")}, {QStringLiteral("public.rtf"), QByteArray("{\\rtf1 plain}")}})});
            Item files;
            files.type = 3;
            files.createdAt = 100.0;
            files.pasteboard = filesArchive({QStringLiteral("file:///etc/hosts")});
            builder.addItem(text);
            builder.addItem(files);
        });
        QCOMPARE(summary.value(), (PasteImportSummary{2, 0, 0, 0, 0, false}));

        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(0)->kind(), ClipKind::Text);
        QCOMPARE(items.at(0)->rtfData(), QByteArray("{\\rtf1 plain}"));
        QCOMPARE(items.at(0)->createdAt(), referenceDate.addSecs(300));
        QCOMPARE(items.at(0)->sourceAppName(), QStringLiteral("Kate"));
        QCOMPARE(items.at(0)->sourceBundleID(), QStringLiteral("org.kde.kate"));
        QCOMPARE(items.at(0)->title(), QStringLiteral("Note"));
        QCOMPARE(items.at(0)->isPinned(), false);
        QVERIFY(items.at(0)->id().has_value());
        QCOMPARE(items.at(1)->kind(), ClipKind::File);
        QCOMPARE(items.at(1)->fileName(), QStringLiteral("hosts"));
        QCOMPARE(items.at(1)->plainText(), QStringLiteral("/etc/hosts"));
        QCOMPARE(items.at(1)->contentHash(), computeContentHash(QStringLiteral("/etc/hosts"), std::nullopt));
    }

    void pinboardsBecomeLabelsMatchedWithoutCase()
    {
        StoreFixture store;
        const QString existing = saveLabel(store, QStringLiteral("work"));
        QVERIFY(saveContext(store.view(), QStringLiteral("test")));
        const auto summary = importBuilt(store, [](PasteDatabaseBuilder &builder) {
            const QList<qint64> lists = {builder.addList(QStringLiteral("Work")), builder.addList(QStringLiteral("Ideas")),
                                         builder.addList(QStringLiteral("IDEAS")), builder.addList(QStringLiteral("Later"))};
            for (int i = 0; i < lists.size(); ++i)
                builder.addItem(textItem(QStringLiteral("on list %1").arg(i), 100.0 - i, lists.at(i)));
        });
        QCOMPARE(summary.value().pinboardsCreated, 2);
        const QList<ClipLabelPtr> all = labels(store);
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.at(1)->name(), QStringLiteral("Ideas"));
        QCOMPARE(all.at(1)->colorIndex(), 1);
        QCOMPARE(all.at(2)->name(), QStringLiteral("Later"));
        QCOMPARE(all.at(2)->colorIndex(), 2);

        const auto onWork = itemWithText(store, QStringLiteral("on list 0"));
        QVERIFY(onWork && onWork->isPinned());
        QCOMPARE(onWork->labelID(), existing);
        const QString ideas = uuidString(*all.at(1)->id());
        QCOMPARE(itemWithText(store, QStringLiteral("on list 1"))->labelID(), ideas);
        QCOMPARE(itemWithText(store, QStringLiteral("on list 2"))->labelID(), ideas);
    }

    void anExistingItemGainsWhatItLacked_data()
    {
        QTest::addColumn<bool>("hasLabel");
        QTest::addColumn<QString>("ownTitle");
        QTest::newRow("bare") << false << QString();
        QTest::newRow("labelled") << true << QString();
        QTest::newRow("titled") << false << QStringLiteral("Mine");
        QTest::newRow("blank title") << false << QStringLiteral("  ");
    }
    void anExistingItemGainsWhatItLacked()
    {
        QFETCH(bool, hasLabel);
        QFETCH(QString, ownTitle);
        StoreFixture store;
        const QDateTime localDate = QDateTime::currentDateTimeUtc().addSecs(-60);
        const auto local = addLocalItem(store, QStringLiteral("shared"), localDate);
        const QString ownLabel = saveLabel(store, QStringLiteral("Mine"));
        if (hasLabel)
            local->setLabelID(ownLabel);
        if (!ownTitle.isNull())
            local->setTitle(ownTitle);
        QVERIFY(saveContext(store.view(), QStringLiteral("test")));
        const QUuid id = *local->id();

        const auto summary = importBuilt(store, [](PasteDatabaseBuilder &builder) {
            builder.addItem(textItem(QStringLiteral("shared"), 10.0, builder.addList(QStringLiteral("P")), QStringLiteral("From Paste")));
        });
        QCOMPARE(summary.value().duplicates, 1);
        QCOMPARE(summary.value().imported, 0);

        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 1);
        const ClipItemPtr &item = items.first();
        QCOMPARE(item->id(), id);
        QCOMPARE(item->createdAt(), localDate);
        QVERIFY(item->isPinned());
        const QString pinboardLabel = uuidString(*labels(store).last()->id());
        QCOMPARE(item->labelID(), hasLabel ? ownLabel : pinboardLabel);
        QCOMPARE(item->title(), ownTitle == QStringLiteral("Mine") ? ownTitle : QStringLiteral("From Paste"));
    }

    void historyBeyondTheLimitIsSkippedAndTrimmed_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<int>("imported");
        QTest::addColumn<QString>("lastKept");
        // 200 rows, every 50th on a pinboard: the history rows up to the limit and all 4 pinboard
        // rows are taken; then the 20 newer local items and the newest Paste history fill the limit.
        QTest::newRow("60") << qint64(60) << 64 << QStringLiteral("paste 39");
        QTest::newRow("below 51 acts as 50") << qint64(10) << 54 << QStringLiteral("paste 29");
    }
    void historyBeyondTheLimitIsSkippedAndTrimmed()
    {
        QFETCH(qint64, limit);
        QFETCH(int, imported);
        QFETCH(QString, lastKept);
        StoreFixture store;
        // Local items newer than anything in Paste keep their place.
        for (int i = 0; i < 20; ++i)
            addLocalItem(store, QStringLiteral("local %1").arg(i), QDateTime::currentDateTimeUtc().addSecs(-i));
        QVERIFY(saveContext(store.view(), QStringLiteral("test")));
        const auto summary = importBuilt(store, [](PasteDatabaseBuilder &builder) {
            builder.addTexts(200, QStringLiteral("paste "), builder.addList(QStringLiteral("Board")), 50);
        }, limit);
        QCOMPARE(summary.value().imported, imported);
        QCOMPARE(summary.value().skippedBeyondLimit, 200 - imported);
        qint64 unpinned = 0;
        qint64 pinned = 0;
        for (const ClipItemPtr &item : store.items())
            (item->isPinned() ? pinned : unpinned) += 1;
        QCOMPARE(unpinned, std::max<qint64>(limit, 50));
        QCOMPARE(pinned, 4);
        QVERIFY(itemWithText(store, QStringLiteral("local 19")));
        QVERIFY(itemWithText(store, lastKept));
        const int firstGone = lastKept.section(QLatin1Char(' '), 1).toInt() + 1;
        QVERIFY(!itemWithText(store, QStringLiteral("paste %1").arg(firstGone)));
    }

    // Saves go in batches of 50. A batch whose save fails is logged and rolled back while
    // the reader goes on: the batches around it stay, and the summary counts what was saved.
    void aFailedBatchSaveLosesOnlyThatBatch()
    {
        StoreFixture store;
        store.execSql("CREATE TRIGGER inject_failure BEFORE INSERT ON ClipItem WHEN new.plainText = 'paste 75' "
                      "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");
        klog::Recorder recorder;
        const auto summary = importBuilt(store, [](PasteDatabaseBuilder &builder) { builder.addTexts(120, QStringLiteral("paste ")); });
        QCOMPARE(summary.value().imported, 70);
        const QStringList texts = store.texts();
        QCOMPARE(texts.size(), 70);
        for (const int kept : {0, 49, 100, 119})
            QVERIFY(texts.contains(QStringLiteral("paste %1").arg(kept)));
        for (const int lost : {50, 75, 99})
            QVERIFY(!texts.contains(QStringLiteral("paste %1").arg(lost)));
        const QStringList errors = recorder.messages(klog::Category::Import, klog::Level::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith(QStringLiteral("paste import save failed: ")));
    }

    // A label made in a batch whose save failed is gone with it: the items of that pinboard
    // in later batches must get a label that exists, not the id of the lost one.
    void aFailedBatchSaveDoesNotLeaveItemsOnALostLabel()
    {
        StoreFixture store;
        // The first batch and the last, saved at the end, fail.
        store.execSql("CREATE TRIGGER inject_failure BEFORE INSERT ON ClipItem "
                      "WHEN new.plainText IN ('paste 10', 'paste 110') "
                      "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");
        const auto summary = importBuilt(store, [](PasteDatabaseBuilder &builder) {
            builder.addTexts(120, QStringLiteral("paste "), builder.addList(QStringLiteral("Board")), 5);
        });
        QCOMPARE(summary.value().pinboardsCreated, 1);
        // Only what was saved counts as imported.
        QCOMPARE(summary.value().imported, 50);
        QCOMPARE(store.items().size(), 50);
        const QList<ClipLabelPtr> all = labels(store);
        QCOMPARE(all.size(), 1);
        QCOMPARE(all.first()->name(), QStringLiteral("Board"));
        const QString board = uuidString(all.first()->id().value());
        int onBoard = 0;
        for (const ClipItemPtr &item : store.items()) {
            if (!item->isPinned())
                continue;
            QCOMPARE(item->labelID(), board);
            ++onBoard;
        }
        QCOMPARE(onBoard, 10); // rows 54, 59, ... 99; the first and last batches' went with them
    }

    // The newest of two equal rows makes the item, the older adds its pinboard and title;
    // one summary line is logged, without any content.
    void duplicatesWithinOneImportShareOneItemAndOneLogLine()
    {
        StoreFixture store;
        klog::Recorder recorder;
        const auto summary = importBuilt(store, [](PasteDatabaseBuilder &builder) {
            builder.addItem(textItem(QStringLiteral("secret text"), 20.0));
            builder.addItem(textItem(QStringLiteral("secret text"), 10.0, builder.addList(QStringLiteral("Kept")), QStringLiteral("Title")));
            Item unreadable;
            unreadable.createdAt = 1.0;
            builder.addItem(unreadable);
        });
        QCOMPARE(summary.value(), (PasteImportSummary{1, 1, 1, 0, 1, false}));
        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 1);
        QVERIFY(items.first()->isPinned());
        QCOMPARE(items.first()->title(), QStringLiteral("Title"));
        QCOMPARE(items.first()->createdAt(), referenceDate.addSecs(20));
        QCOMPARE(recorder.messages(klog::Category::Import, klog::Level::Default),
                 QStringList{QStringLiteral("paste import: 1 imported, 1 duplicate, 1 undecodable, 0 beyond limit, cancelled=false")});
        for (const klog::Line &line : recorder.lines()) {
            if (line.level != klog::Level::Debug)
                QVERIFY2(!line.message.contains(QStringLiteral("secret")), qPrintable(line.message));
        }
    }

    // Images are re-encoded on other threads while the texts around them go straight on:
    // each must still land on its own row, in reading order, so the first of two equal
    // images keeps its date.
    void imagesAmongTextsKeepTheirRowsAndOrder()
    {
        StoreFixture store;
        const QByteArray broken("\x89PNG not really");
        const auto summary = importBuilt(store, [&](PasteDatabaseBuilder &builder) {
            builder.begin();
            for (int i = 0; i < 80; ++i) {
                Item item = textItem(QStringLiteral("text %1").arg(i), 1000.0 - i);
                if (i % 4 == 1) {
                    // i == 41 repeats i == 1's picture; i == 61 cannot be decoded. Every picture
                    // is scaled down, to a height of its own.
                    const int side = i == 41 ? 3 : 2 + i;
                    item.type = 1;
                    item.pasteboard = imageArchive(i == 61 ? broken : pngOf(QSize(2000 + side * 10, side * 3)));
                }
                builder.addItem(item);
            }
            builder.commit();
        });
        QCOMPARE(summary.value().imported, 79);
        QCOMPARE(summary.value().duplicates, 1);

        const QList<ClipItemPtr> items = store.items();
        QCOMPARE(items.size(), 79);
        int row = 0;
        for (int i = 0; i < 80; ++i) {
            if (i == 41)
                continue;
            const ClipItemPtr &item = items.at(row++);
            QCOMPARE(item->createdAt(), referenceDate.addSecs(1000 - i));
            if (i % 4 != 1) {
                QCOMPARE(item->plainText(), QStringLiteral("text %1").arg(i));
                continue;
            }
            QCOMPARE(item->kind(), ClipKind::Image);
            QCOMPARE(item->contentHash(), computeContentHash(std::nullopt, item->imageData()));
            if (i == 61)
                QCOMPARE(item->imageData(), broken);
            else
                QCOMPARE(QImage::fromData(*item->imageData(), "PNG").size(),
                         normalizedImageSize(QSize(2000 + (2 + i) * 10, (2 + i) * 3)));
        }
    }
};

QTEST_GUILESS_MAIN(TestPasteImporter)
#include "tst_pasteimporter.moc"
