#include "StoreTestSupport.h"

#include "store/FetchedResultsModel.h"
#include "store/TextFolding.h"
#include "store/sql/SqlConnection.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <sqlite3.h>

namespace {

QDateTime at(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(1700000000 + seconds, Qt::UTC);
}

} // namespace

class TestLiveResults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsBackgroundSavesWithoutResets()
    {
        TestStore store;
        for (int i = 0; i < 20; ++i)
            insertText(store.view(), QStringLiteral("item %1").arg(i))->setCreatedAt(at(i * 10));
        QVERIFY(store.view()->save());

        const FetchRequest request = itemsNewestFirst();
        FetchedResultsModel model(store.view(), request);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.performFetch());
        QCOMPARE(listed(model), freshRun(store.view(), request));
        QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), QStringLiteral("item 19"));

        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removals(&model, &QAbstractItemModel::rowsRemoved);
        QSet<ObjectId> changedIds;
        connect(&model, &QAbstractItemModel::dataChanged, this,
                [&](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                    for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
                        changedIds.insert(model.objectIdAt(row));
                });
        QSignalSpy counted(&model, &FetchedResultsModel::countChanged);

        auto capture = store.container->newBackgroundContext();
        const ObjectId fifth = model.objectIdAt(5);
        const ObjectId last = model.objectIdAt(19);
        const ObjectId second = model.objectIdAt(1);
        capture->performAndWait([&] {
            insertText(capture.get(), QStringLiteral("newest"))->setCreatedAt(at(1000));
            insertText(capture.get(), QStringLiteral("in between"))->setCreatedAt(at(55));
            capture->deleteObject(*capture->existingObject(last));
            // Moves: the fifth becomes the oldest.
            objectCast<ClipItem>(*capture->existingObject(fifth))->setCreatedAt(at(-5));
            // Changes in place.
            objectCast<ClipItem>(*capture->existingObject(second))->setTitle(QStringLiteral("titled"));
            QVERIFY(capture->save());
        });
        QTRY_COMPARE(model.rowCount(), 21);
        QCOMPARE(listed(model), freshRun(store.view(), request));
        QCOMPARE(resets.count(), 0);
        QCOMPARE(inserts.count(), 3);
        QCOMPARE(removals.count(), 2);
        QVERIFY(counted.count() >= 1);
        QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), QStringLiteral("newest"));
        QCOMPARE(model.rowOf(fifth), 20);
        const int titledRow = model.rowOf(second);
        QVERIFY(titledRow >= 0);
        QVERIFY(changedIds.contains(second));
        const auto titleRole = model.roleNames().key(QByteArrayLiteral("title"));
        QCOMPARE(model.data(model.index(titledRow), titleRole).toString(), QStringLiteral("titled"));
    }

    void membershipFollowsThePredicate()
    {
        TestStore store;
        auto pinned = insertText(store.view(), QStringLiteral("pinned résumé"));
        pinned->setPinned(true);
        pinned->setCreatedAt(at(1));
        insertText(store.view(), QStringLiteral("plain"))->setCreatedAt(at(2));
        QVERIFY(store.view()->save());

        FetchRequest request = itemsNewestFirst();
        request.setPredicate(Predicate::equal(QStringLiteral("isPinned"), true));
        FetchedResultsModel model(store.view(), request);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.performFetch());
        QCOMPARE(model.rowCount(), 1);

        // The view context's own save counts too.
        auto plain = objectCast<ClipItem>(*store.view()->existingObject(freshRun(store.view(), itemsNewestFirst()).first()));
        plain->setPinned(true);
        QVERIFY(store.view()->save());
        QCOMPARE(model.rowCount(), 2);
        pinned->setPinned(false);
        QVERIFY(store.view()->save());
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(listed(model), freshRun(store.view(), request));

        // A search predicate: rows come and go as texts change.
        QVERIFY(model.setPredicate(Predicate::contains(QStringLiteral("plainText"), QStringLiteral("RESUME"),
                                                       TextComparison::CaseDiacriticInsensitive)));
        QCOMPARE(model.rowCount(), 1);
        plain->setPlainText(QStringLiteral("another Résumé"));
        QVERIFY(store.view()->save());
        QCOMPARE(model.rowCount(), 2);
        pinned->setPlainText(QStringLiteral("nothing"));
        QVERIFY(store.view()->save());
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), QStringLiteral("another Résumé"));
    }

    void staysEqualToAFreshRunUnderRandomChanges_data()
    {
        QTest::addColumn<bool>("search");
        QTest::addColumn<bool>("byTitle");
        QTest::newRow("all, newest first") << false << false;
        QTest::newRow("search, newest first") << true << false;
        QTest::newRow("all, by title") << false << true;
    }

    void staysEqualToAFreshRunUnderRandomChanges()
    {
        QFETCH(bool, search);
        QFETCH(bool, byTitle);
        TestStore store;
        QRandomGenerator random(20240601);
        const QStringList words{QStringLiteral("café"), QStringLiteral("tea"), QStringLiteral("CAFE au lait"),
                                QStringLiteral("water")};
        for (int i = 0; i < 60; ++i) {
            auto item = insertText(store.view(), words[i % words.size()]);
            item->setCreatedAt(at(random.bounded(100)));   // many equal dates
            item->setTitle(QStringLiteral("t%1").arg(random.bounded(10)));
        }
        QVERIFY(store.view()->save());
        FetchRequest request = FetchRequest::of<ClipItem>();
        request.setSortDescriptors({{byTitle ? QStringLiteral("title") : QStringLiteral("createdAt"), byTitle}});
        if (search)
            request.setPredicate(Predicate::contains(QStringLiteral("plainText"), QStringLiteral("cafe"),
                                                     TextComparison::CaseDiacriticInsensitive));
        FetchedResultsModel model(store.view(), request);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.performFetch());
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

        auto background = store.container->newBackgroundContext();
        for (int round = 0; round < 40; ++round) {
            QSignalSpy merged(store.view(), &StoreContext::objectsDidChange);
            bool saved = false;
            background->performAndWait([&] {
                auto all = *background->fetch<ClipItem>(FetchRequest::of<ClipItem>());
                const int operations = 1 + int(random.bounded(4));
                for (int op = 0; op < operations && !all.isEmpty(); ++op) {
                    const auto &item = all[random.bounded(int(all.size()))];
                    switch (random.bounded(5)) {
                    case 0: background->deleteObject(item); break;
                    case 1: item->setCreatedAt(at(random.bounded(100))); break;
                    case 2: item->setPlainText(words[random.bounded(int(words.size()))]); break;
                    case 3: item->setTitle(QStringLiteral("t%1").arg(random.bounded(10))); break;
                    default:
                        insertText(background.get(), words[random.bounded(int(words.size()))])
                            ->setCreatedAt(at(random.bounded(100)));
                    }
                }
                saved = background->hasChanges();
                QVERIFY(background->save());
            });
            QTRY_COMPARE(merged.count(), saved ? 1 : 0);
            QCOMPARE(listed(model), freshRun(store.view(), request));
        }
        QCOMPARE(resets.count(), 0);
    }

    void manyChangesAtOnceStillEndEqual()
    {
        TestStore store;
        for (int i = 0; i < 300; ++i)
            insertText(store.view(), QStringLiteral("old %1").arg(i))->setCreatedAt(at(i));
        QVERIFY(store.view()->save());
        const FetchRequest request = itemsNewestFirst();
        FetchedResultsModel model(store.view(), request);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.performFetch());
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        auto import = store.container->newBackgroundContext();
        import->performAndWait([&] {
            auto all = *import->fetch<ClipItem>(FetchRequest::of<ClipItem>());
            for (int i = 0; i < all.size(); i += 2)
                import->deleteObject(all[i]);
            for (int i = 0; i < 1500; ++i)
                insertText(import.get(), QStringLiteral("imported %1").arg(i))->setCreatedAt(at(i % 400));
            QVERIFY(import->save());
        });
        QTRY_COMPARE(model.rowCount(), 1650);
        QCOMPARE(listed(model), freshRun(store.view(), request));
        QCOMPARE(resets.count(), 0);
    }

    void rowsLoadTheirObjectsOnDemand()
    {
        TestStore store;
        for (int i = 0; i < 200; ++i) {
            auto item = insertText(store.view(), QStringLiteral("item %1").arg(i));
            item->setCreatedAt(at(i));
            item->setImageData(QByteArray(1000, 'x'));
        }
        QVERIFY(store.view()->save());
        store.reopen();
        FetchedResultsModel model(store.view(), itemsNewestFirst());
        QVERIFY(model.performFetch());
        QCOMPARE(model.rowCount(), 200);
        auto item = model.at<ClipItem>(150);
        QVERIFY(item);
        QCOMPARE(item->plainText(), std::optional<QString>(QStringLiteral("item 49")));
        // The image bytes come when their role is asked for.
        const int imageRole = model.roleNames().key(QByteArrayLiteral("imageData"));
        QCOMPARE(model.data(model.index(150), imageRole).toByteArray().size(), 1000);
        QVERIFY(model.data(model.index(0), model.roleNames().key(QByteArrayLiteral("id"))).toString().size() == 36);
        QVERIFY(model.data(model.index(3), FetchedResultsModel::UriRole).toString().startsWith(QStringLiteral("x-kestrelnote://")));
    }

    // Room for the rows is reserved from the key range before reading them: keys far apart
    // (another program's writes, a damaged store) must not ask for gigabytes.
    void keysFarApartStillList()
    {
        TestStore store;
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw);
            QCOMPARE(registerFoldingFunctions((*raw)->handle()), SQLITE_OK);
            QVERIFY((*raw)->exec(QStringLiteral("INSERT INTO ClipItem (pk, createdAt, plainText) VALUES "
                                                "(1, 1, 'first'), (4611686018427387904, 2, 'far away')")));
        }
        FetchedResultsModel model(store.view(), itemsNewestFirst());
        QVERIFY(model.performFetch());
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.at<ClipItem>(0)->plainText(), QStringLiteral("far away"));
        QCOMPARE(model.at<ClipItem>(1)->plainText(), QStringLiteral("first"));
    }
};

QTEST_GUILESS_MAIN(TestLiveResults)
#include "tst_liveresults.moc"
