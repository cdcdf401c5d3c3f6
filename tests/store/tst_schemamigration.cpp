#include "StoreTestSupport.h"

#include "store/Schema.h"
#include "store/TextFolding.h"
#include "store/sql/SqlConnection.h"

#include <sqlite3.h>

namespace {

// A store as an older version made it, with items written by plain SQL.
void makeOldStore(const QString &path, int version)
{
    auto connection = sql::Connection::open(path, {});
    QVERIFY(connection);
    // Older stores were written by the same functions the triggers of version 2 call.
    QCOMPARE(registerFoldingFunctions((*connection)->handle()), SQLITE_OK);
    QVERIFY((*connection)->exec(QStringLiteral("BEGIN")));
    QVERIFY(schema::createSchemaVersion(**connection, makeModel(), version));
    QVERIFY((*connection)->exec(QStringLiteral(
        "INSERT INTO ClipItem (createdAt, kind, plainText, contentHash, isPinned, title) VALUES "
        "(1700000000000, 'text', 'Résumé for the interview', 11, 1, 'CV'), "
        "(1700000001000, 'file', '/home/u/Été.pdf', 12, 0, NULL); "
        "INSERT INTO ClipItem_external (pk, imageData) VALUES (2, x'89504E47');"
        "INSERT INTO store_transactions (timestamp, author, origin, changes) VALUES (1, 'old', 'x', '{}');"
        "COMMIT")));
}

qint64 queryValue(const QString &path, const QString &sql)
{
    auto connection = sql::Connection::open(path, {});
    return *(*connection)->queryInt64(sql);
}

qint64 waitingRows(sql::Connection &connection)
{
    return *connection.queryInt64(QStringLiteral("SELECT count(*) FROM ClipItem_search_pending"));
}

// Rank 1 compares the index with the folded rows, not only with itself; it holds once
// nothing waits.
bool indexIsExact(sql::Connection &connection)
{
    return connection.exec(QStringLiteral("INSERT INTO ClipItem_search(ClipItem_search, rank) VALUES ('integrity-check', 1)"))
        .ok();
}

} // namespace

class TestSchemaMigration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void olderStoresAreMigratedInPlace_data()
    {
        QTest::addColumn<int>("version");
        QTest::newRow("version 1") << 1;
        QTest::newRow("version 2") << 2;
        QTest::newRow("version 3") << 3;
        QTest::newRow("version 4") << 4;
        QTest::newRow("version 5") << 5;
    }

    void olderStoresAreMigratedInPlace()
    {
        QFETCH(int, version);
        TestStore store;
        store.container.reset();
        QFile::remove(store.path());
        makeOldStore(store.path(), version);
        QCOMPARE(queryValue(store.path(), QStringLiteral("PRAGMA user_version")), version);

        QVERIFY(store.open());
        QCOMPARE(queryValue(store.path(), QStringLiteral("PRAGMA user_version")), schema::currentVersion);
        QCOMPARE(queryValue(store.path(), QStringLiteral("SELECT count(*) FROM sqlite_schema "
                                                         "WHERE name = 'ClipItem_kind_createdAt'")), 1);
        auto items = store.view()->fetch<ClipItem>(itemsNewestFirst());
        QCOMPARE(textsOf(*items), (QStringList{QStringLiteral("/home/u/Été.pdf"), QStringLiteral("Résumé for the interview")}));
        QCOMPARE(items->at(1)->title(), std::optional<QString>(QStringLiteral("CV")));
        QVERIFY(items->at(1)->isPinned());
        QCOMPARE(items->at(0)->imageData(), std::optional<QByteArray>(QByteArray("\x89PNG", 4)));
        // The search index covers what was there before.
        FetchRequest search = FetchRequest::of<ClipItem>();
        search.setPredicate(Predicate::contains(QStringLiteral("plainText"), QStringLiteral("resume"),
                                                TextComparison::CaseDiacriticInsensitive));
        QCOMPARE(*store.view()->count(search), 1);
        search.setPredicate(Predicate::contains(QStringLiteral("plainText"), QStringLiteral("ete.pdf"),
                                                TextComparison::CaseDiacriticInsensitive));
        QCOMPARE(*store.view()->count(search), 1);
        search.setPredicate(Predicate::contains(QStringLiteral("plainText"), QStringLiteral("/"),
                                                TextComparison::CaseDiacriticInsensitive));
        QCOMPARE(*store.view()->count(search), 1);
        // New saves work and keep the index.
        insertText(store.view(), QStringLiteral("another résumé"));
        QVERIFY(store.view()->save());
        search.setPredicate(Predicate::contains(QStringLiteral("plainText"), QStringLiteral("RESUME"),
                                                TextComparison::CaseDiacriticInsensitive));
        QCOMPARE(*store.view()->count(search), 2);
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
        auto found = [&](const QString &text) {
            FetchRequest search = FetchRequest::of<ClipItem>();
            search.setPredicate(Predicate::anyOf(
                {Predicate::contains(QStringLiteral("plainText"), text, TextComparison::CaseDiacriticInsensitive),
                 Predicate::contains(QStringLiteral("title"), text, TextComparison::CaseDiacriticInsensitive)}));
            return *store.view()->count(search);
        };
        auto indexIsExact = [&] { return ::indexIsExact(**raw); };
        auto waiting = [&] { return waitingRows(**raw); };

        QVERIFY((*raw)->exec(QStringLiteral("INSERT INTO ClipItem (createdAt, plainText) VALUES (1, 'Crème brûlée recipe'), "
                                            "(2, 'waiting then changed'), (3, 'waiting then gone')")));
        QCOMPARE(waiting(), 3);
        QCOMPARE(found(QStringLiteral("CREME BRULEE")), 1);
        QCOMPARE(found(QStringLiteral("Û")), 1);
        QVERIFY((*raw)->exec(QStringLiteral("UPDATE ClipItem SET plainText = 'changed while waiting' WHERE createdAt = 2; "
                                            "DELETE FROM ClipItem WHERE createdAt = 3")));
        QCOMPARE(found(QStringLiteral("while waiting")), 1);
        QCOMPARE(found(QStringLiteral("then gone")), 0);

        // The store notices the other writer, and its indexer takes the rows in; so it does
        // with the rows of our own saves.
        QTRY_COMPARE(waiting(), 0);
        QVERIFY(indexIsExact());
        insertText(store.view(), QStringLiteral("saved by the store"));
        QVERIFY(store.view()->save());
        QTRY_COMPARE(waiting(), 0);
        QVERIFY(indexIsExact());
        QCOMPARE(found(QStringLiteral("creme")), 1);
        QCOMPARE(found(QStringLiteral("while waiting")), 1);
        QCOMPARE(found(QStringLiteral("by the store")), 1);

        // Indexed rows changed and deleted by anyone leave the index exact.
        QCOMPARE(found(QStringLiteral("SS")), 0);
        QCOMPARE(found(QStringLiteral("G")), 1);
        QVERIFY((*raw)->exec(QStringLiteral("UPDATE ClipItem SET title = 'Dessert' WHERE createdAt = 1; "
                                            "DELETE FROM ClipItem WHERE createdAt = 2")));
        QCOMPARE(found(QStringLiteral("SS")), 1);
        QCOMPARE(found(QStringLiteral("G")), 0);
        QVERIFY(indexIsExact());
        QCOMPARE(found(QStringLiteral("dessert")), 1);
        QCOMPARE(found(QStringLiteral("while waiting")), 0);
        auto items = *store.view()->fetch<ClipItem>(itemsNewestFirst());
        store.view()->deleteObject(items.first());
        QVERIFY(store.view()->save());
        QVERIFY(indexIsExact());
        QCOMPARE(found(QStringLiteral("by the store")), 0);
    }

    // Saves in a row leave their rows to the indexer, which takes them in a step at a time
    // once saving pauses; searches find the same rows before and after.
    void batchSavesLeaveTheIndexToThePause()
    {
        QTemporaryDir dir;
        StoreContainer container(QStringLiteral("Kestrelnote"));
        container.storeDescription().path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        container.storeDescription().searchIndexPauseMs = 1500;
        QVERIFY(container.loadPersistentStore());
        auto raw = sql::Connection::open(container.storeDescription().path, {});
        QVERIFY(raw);
        const auto background = container.newBackgroundContext();
        auto saveItems = [&](int first, int count) {
            for (int batch = first; batch < first + count; batch += 50) {
                background->performAndWait([&] {
                    for (int i = batch; i < batch + 50; ++i)
                        insertText(background.get(), QStringLiteral("Item %1 of the batch").arg(i));
                    QVERIFY(background->save());
                });
            }
        };
        FetchRequest search = FetchRequest::of<ClipItem>();
        search.setPredicate(
            Predicate::contains(QStringLiteral("plainText"), QStringLiteral("ITEM 4"), TextComparison::CaseDiacriticInsensitive));
        // 4, 40–49 and 400–499.
        const qint64 matching = 111;

        saveItems(0, 600);
        QCOMPARE(waitingRows(**raw), 600);
        QCOMPARE(*container.viewContext()->count(search), matching);
        QTRY_COMPARE_WITH_TIMEOUT(waitingRows(**raw), 0, 30000);
        QVERIFY(indexIsExact(**raw));
        QCOMPARE(*container.viewContext()->count(search), matching);

        // Without waiting for the pause.
        saveItems(600, 300);
        QVERIFY(container.indexWaitingRows());
        QCOMPARE(waitingRows(**raw), 0);
        QVERIFY(indexIsExact(**raw));
    }

    void aStoreMissingPartsIsUnknown_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("missing column") << QStringLiteral("ALTER TABLE ClipItem DROP COLUMN title");
        QTest::newRow("missing index table") << QStringLiteral("DROP TABLE ClipItem_search");
        QTest::newRow("no identifier") << QStringLiteral("DELETE FROM store_metadata");
        QTest::newRow("no list of rows to index") << QStringLiteral("DROP TABLE ClipItem_search_pending");
    }

    void aStoreMissingPartsIsUnknown()
    {
        QFETCH(QString, damage);
        TestStore store;
        store.container.reset();
        {
            auto connection = sql::Connection::open(store.path(), {});
            // Triggers that read a column keep it from being dropped.
            QVERIFY((*connection)->exec(QStringLiteral("DROP TRIGGER ClipItem_fold_insert; DROP TRIGGER ClipItem_fold_update")));
            QVERIFY((*connection)->exec(damage));
        }
        StoreContainer container(QStringLiteral("Kestrelnote"));
        container.storeDescription().path = store.path();
        auto loaded = container.loadPersistentStore();
        QVERIFY(!loaded);
        QCOMPARE(loaded.error().code, StoreError::Code::UnknownSchema);
        QVERIFY(isCorruptStoreError(loaded.error()));
    }
};

QTEST_GUILESS_MAIN(TestSchemaMigration)
#include "tst_schemamigration.moc"
