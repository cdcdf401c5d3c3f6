#include "StoreTestSupport.h"

#include "store/Schema.h"
#include "store/TextFolding.h"
#include "store/sql/SqlConnection.h"

#include <QRandomGenerator>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace {

// A store as an older version made it, with items written by plain SQL.
void makeOldStore(const QString &path, int version)
{
    auto connection = sql::Connection::open(path, {});
    QVERIFY(connection);
    // Older stores were written by the same functions the triggers of version 2 call.
    QCOMPARE(registerFoldingFunctions((*connection)->handle()), SQLITE_OK);
    QVERIFY((*connection)->exec(u"BEGIN"_s));
    QVERIFY(schema::createSchemaVersion(**connection, makeModel(), version));
    QVERIFY((*connection)->exec(
        u"INSERT INTO ClipItem (createdAt, kind, plainText, contentHash, isPinned, title) VALUES "
        "(1700000000000, 'text', 'Résumé for the interview', 11, 1, 'CV'), "
        "(1700000001000, 'file', '/home/u/Été.pdf', 12, 0, NULL); "
        "INSERT INTO ClipItem_external (pk, imageData) VALUES (2, x'89504E47');"
        "INSERT INTO store_transactions (timestamp, author, origin, changes) VALUES (1, 'old', 'x', '{}');"
        "COMMIT"_s));
}

qint64 queryValue(const QString &path, const QString &sql)
{
    auto connection = sql::Connection::open(path, {});
    return *(*connection)->queryInt64(sql);
}

qint64 waitingRows(sql::Connection &connection)
{
    return *connection.queryInt64(u"SELECT count(*) FROM ClipItem_search_pending"_s);
}

// Rank 1 compares the index with the folded rows, not only with itself; it holds once
// nothing waits.
bool indexIsExact(sql::Connection &connection)
{
    return connection.exec(u"INSERT INTO ClipItem_search(ClipItem_search, rank) VALUES ('integrity-check', 1)"_s).ok();
}

// How many items a search of the text and the title finds.
qint64 found(StoreContext *context, const QString &text)
{
    const auto cd = TextComparison::CaseDiacriticInsensitive;
    FetchRequest search = FetchRequest::of<ClipItem>();
    search.setPredicate(Predicate::contains(u"plainText"_s, text, cd) || Predicate::contains(u"title"_s, text, cd));
    return *context->count(search);
}

// How many items the shelf's search (every searched attribute) finds.
qint64 foundAnywhere(StoreContext *context, const QString &text)
{
    const auto cd = TextComparison::CaseDiacriticInsensitive;
    FetchRequest search = FetchRequest::of<ClipItem>();
    search.setPredicate(Predicate::anyOf(
        {Predicate::contains(u"plainText"_s, text, cd), Predicate::contains(u"fileName"_s, text, cd),
         Predicate::contains(u"sourceAppName"_s, text, cd), Predicate::contains(u"title"_s, text, cd)}));
    return *context->count(search);
}

} // namespace

class TestSchemaMigration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void olderStoresAreMigratedInPlace_data()
    {
        QTest::addColumn<int>("version");
        for (int version = 1; version < schema::currentVersion; ++version)
            QTest::addRow("version %d", version) << version;
    }

    void olderStoresAreMigratedInPlace()
    {
        QFETCH(int, version);
        TestStore store;
        store.container.reset();
        QFile::remove(store.path());
        makeOldStore(store.path(), version);
        QCOMPARE(queryValue(store.path(), u"PRAGMA user_version"_s), version);

        QVERIFY(store.open());
        QCOMPARE(queryValue(store.path(), u"PRAGMA user_version"_s), schema::currentVersion);
        QCOMPARE(queryValue(store.path(), u"SELECT count(*) FROM sqlite_schema WHERE name = 'ClipItem_kind_createdAt'"_s), 1);
        auto items = store.view()->fetch<ClipItem>(itemsNewestFirst());
        QCOMPARE(textsOf(*items), (QStringList{u"/home/u/Été.pdf"_s, u"Résumé for the interview"_s}));
        QCOMPARE(items->at(1)->title(), u"CV"_s);
        QVERIFY(items->at(1)->isPinned());
        QCOMPARE(items->at(0)->imageData(), QByteArray("\x89PNG", 4));
        // The search index covers what was there before, and new saves.
        QCOMPARE(found(store.view(), u"resume"_s), 1);
        QCOMPARE(found(store.view(), u"ete.pdf"_s), 1);
        QCOMPARE(found(store.view(), u"/"_s), 1);
        // So does the index of characters and pairs, before and after waiting rows enter it.
        for (int pass = 0; pass < 2; ++pass) {
            QCOMPARE(foundAnywhere(store.view(), u"É"_s), 2);
            QCOMPARE(foundAnywhere(store.view(), u"cv"_s), 1);
            QCOMPARE(foundAnywhere(store.view(), u"u/"_s), 1);
            QVERIFY(store.container->indexWaitingRows());
        }
        insertText(store.view(), u"another résumé"_s);
        QVERIFY(store.view()->save());
        QCOMPARE(found(store.view(), u"RESUME"_s), 2);
        store.reopen();
        QVERIFY(store.container->isLoaded());
    }

    // Rows written with plain SQL (another program, an older tool) are searchable before the
    // indexer has taken them in, it takes them in once the store notices the change, and the
    // index stays exact through inserts, updates and deletes of waiting and of indexed rows.
    void theIndexFollowsEveryWriter()
    {
        TestStore store;
        auto raw = sql::Connection::open(store.path(), {});
        QVERIFY(raw);
        QCOMPARE(registerFoldingFunctions((*raw)->handle()), SQLITE_OK);
        const auto found = [&](const QString &text) { return ::found(store.view(), text); };
        const auto waiting = [&] { return waitingRows(**raw); };

        QVERIFY((*raw)->exec(u"INSERT INTO ClipItem (createdAt, plainText) VALUES (1, 'Crème brûlée recipe'), "
                             "(2, 'waiting then changed'), (3, 'waiting then gone')"_s));
        QCOMPARE(waiting(), 3);
        QCOMPARE(found(u"CREME BRULEE"_s), 1);
        QCOMPARE(found(u"Û"_s), 1);
        QVERIFY((*raw)->exec(u"UPDATE ClipItem SET plainText = 'changed while waiting' WHERE createdAt = 2; "
                             "DELETE FROM ClipItem WHERE createdAt = 3"_s));
        QCOMPARE(found(u"while waiting"_s), 1);
        QCOMPARE(found(u"then gone"_s), 0);

        // The store notices the other writer, and its indexer takes the rows in; so it does
        // with the rows of our own saves.
        QTRY_COMPARE(waiting(), 0);
        QVERIFY(indexIsExact(**raw));
        insertText(store.view(), u"saved by the store"_s);
        QVERIFY(store.view()->save());
        QTRY_COMPARE(waiting(), 0);
        QVERIFY(indexIsExact(**raw));
        QCOMPARE(found(u"creme"_s), 1);
        QCOMPARE(found(u"while waiting"_s), 1);
        QCOMPARE(found(u"by the store"_s), 1);

        // Indexed rows changed and deleted by anyone leave the index exact.
        QCOMPARE(found(u"SS"_s), 0);
        QCOMPARE(found(u"G"_s), 1);
        QVERIFY((*raw)->exec(u"UPDATE ClipItem SET title = 'Dessert' WHERE createdAt = 1; "
                             "DELETE FROM ClipItem WHERE createdAt = 2"_s));
        QCOMPARE(found(u"SS"_s), 1);
        QCOMPARE(found(u"G"_s), 0);
        QVERIFY(indexIsExact(**raw));
        QCOMPARE(found(u"dessert"_s), 1);
        QCOMPARE(found(u"while waiting"_s), 0);
        store.view()->deleteObject(store.view()->fetch<ClipItem>(itemsNewestFirst())->first());
        QVERIFY(store.view()->save());
        QVERIFY(indexIsExact(**raw));
        QCOMPARE(found(u"by the store"_s), 0);
    }

    // Saves in a row leave their rows to the indexer, which takes them in a step at a time
    // once saving pauses; searches find the same rows before and after.
    void batchSavesLeaveTheIndexToThePause()
    {
        QTemporaryDir dir;
        StoreContainer container(u"Kestrelnote"_s);
        container.storeDescription().path = dir.filePath(u"Kestrelnote.sqlite"_s);
        container.storeDescription().searchIndexPauseMs = 1500;
        QVERIFY(container.loadPersistentStore());
        auto raw = sql::Connection::open(container.storeDescription().path, {});
        QVERIFY(raw);
        const auto background = container.newBackgroundContext();
        auto saveItems = [&](int first, int count) {
            for (int batch = first; batch < first + count; batch += 50) {
                background->performAndWait([&] {
                    for (int i = batch; i < batch + 50; ++i)
                        insertText(background.get(), u"Item %1 of the batch"_s.arg(i));
                    QVERIFY(background->save());
                });
            }
        };
        const qint64 matching = 111; // "item 4": 4, 40–49 and 400–499

        saveItems(0, 600);
        QCOMPARE(waitingRows(**raw), 600);
        QCOMPARE(found(container.viewContext(), u"ITEM 4"_s), matching);
        QTRY_COMPARE_WITH_TIMEOUT(waitingRows(**raw), 0, 30000);
        QVERIFY(indexIsExact(**raw));
        QCOMPARE(found(container.viewContext(), u"ITEM 4"_s), matching);

        // Without waiting for the pause.
        saveItems(600, 300);
        QVERIFY(container.indexWaitingRows());
        QCOMPARE(waitingRows(**raw), 0);
        QVERIFY(indexIsExact(**raw));
    }

    void savesLeaveTheLogToTheCheckpointer()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Kestrelnote.sqlite"_s);
        StoreContainer container(u"Kestrelnote"_s);
        container.storeDescription().path = path;
        QVERIFY(container.loadPersistentStore());
        const qint64 emptySize = QFileInfo(path).size();
        const auto background = container.newBackgroundContext();
        int saved = 0;
        auto saveImages = [&](int count, qsizetype bytesEach) {
            background->performAndWait([&] {
                for (int i = 0; i < count; ++i) {
                    QByteArray bytes(bytesEach, Qt::Uninitialized);
                    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
                    const auto item = background->insert<ClipItem>();
                    item->setKind(ClipKind::Image);
                    item->setImageData(bytes);
                }
                QVERIFY(background->save());
            });
            saved += count;
        };
        // 8 MB: past the length at which the checkpointer is asked to copy the log back,
        // far below the one at which a save would do it itself.
        for (int batch = 0; batch < 4; ++batch)
            saveImages(20, 100'000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > emptySize + 8'000'000, 20000);

        // Once the checkpoint is through, the next save starts the log over, cut back to its limit.
        auto savedOneAndLogIsShort = [&] {
            saveImages(1, 1000);
            return QFileInfo(path + u"-wal"_s).size() <= 4 * 1024 * 1024;
        };
        QTRY_VERIFY_WITH_TIMEOUT(savedOneAndLogIsShort(), 20000);
        StoreContainer reopened(u"Kestrelnote"_s);
        reopened.storeDescription().path = path;
        QVERIFY(reopened.loadPersistentStore());
        QCOMPARE(*reopened.viewContext()->count(FetchRequest::of<ClipItem>()), saved);
    }

    void aStoreMissingPartsIsUnknown_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("missing column") << u"ALTER TABLE ClipItem DROP COLUMN title"_s;
        QTest::newRow("missing index table") << u"DROP TABLE ClipItem_search"_s;
        QTest::newRow("no identifier") << u"DELETE FROM store_metadata"_s;
        QTest::newRow("no list of rows to index") << u"DROP TABLE ClipItem_search_pending"_s;
    }

    void aStoreMissingPartsIsUnknown()
    {
        QFETCH(QString, damage);
        TestStore store;
        store.container.reset();
        {
            auto connection = sql::Connection::open(store.path(), {});
            // Triggers that read a column keep it from being dropped.
            QVERIFY((*connection)->exec(u"DROP TRIGGER ClipItem_fold_insert; DROP TRIGGER ClipItem_fold_update"_s));
            QVERIFY((*connection)->exec(damage));
        }
        StoreContainer container(u"Kestrelnote"_s);
        container.storeDescription().path = store.path();
        auto loaded = container.loadPersistentStore();
        QVERIFY(!loaded);
        QCOMPARE(loaded.error().code, StoreError::Code::UnknownSchema);
        QVERIFY(isCorruptStoreError(loaded.error()));
    }
};

QTEST_GUILESS_MAIN(TestSchemaMigration)
#include "tst_schemamigration.moc"
