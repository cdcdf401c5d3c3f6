#include "StoreTestSupport.h"

#include "store/FetchedResultsModel.h"
#include "store/TextFolding.h"
#include "store/sql/SqlConnection.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace {

QDateTime at(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(1700000000 + seconds, Qt::UTC);
}

// A live list under Qt's model checks, counting resets (which would lose the selection).
struct LiveList {
    FetchedResultsModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::QtTest};
    QSignalSpy resets{&model, &QAbstractItemModel::modelReset};

    LiveList(StoreContext *context, const FetchRequest &request) : model(context, request) { }
    // The first fetch is the one reset there is.
    bool fetch()
    {
        const bool fetched = model.performFetch().ok();
        resets.clear();
        return fetched;
    }
    QString text(int row) const { return model.data(model.index(row), Qt::DisplayRole).toString(); }
};

Predicate searchFor(const QString &text)
{
    return Predicate::contains(u"plainText"_s, text, TextComparison::CaseDiacriticInsensitive);
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
            insertText(store.view(), u"item %1"_s.arg(i))->setCreatedAt(at(i * 10));
        QVERIFY(store.view()->save());

        const FetchRequest request = itemsNewestFirst();
        LiveList list(store.view(), request);
        FetchedResultsModel &model = list.model;
        QVERIFY(list.fetch());
        QCOMPARE(listed(model), freshRun(store.view(), request));
        QCOMPARE(list.text(0), u"item 19"_s);

        QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removals(&model, &QAbstractItemModel::rowsRemoved);
        QSet<ObjectId> changedIds;
        connect(&model, &QAbstractItemModel::dataChanged, this, [&](const QModelIndex &from, const QModelIndex &to) {
            for (int row = from.row(); row <= to.row(); ++row)
                changedIds.insert(model.objectIdAt(row));
        });
        QSignalSpy counted(&model, &FetchedResultsModel::countChanged);

        auto capture = store.container->newBackgroundContext();
        const ObjectId fifth = model.objectIdAt(5);
        const ObjectId second = model.objectIdAt(1);
        const ObjectId last = model.objectIdAt(19);
        capture->performAndWait([&] {
            insertText(capture.get(), u"newest"_s)->setCreatedAt(at(1000));
            insertText(capture.get(), u"in between"_s)->setCreatedAt(at(55));
            capture->deleteObject(*capture->existingObject(last));
            objectCast<ClipItem>(*capture->existingObject(fifth))->setCreatedAt(at(-5));   // moves to the end
            objectCast<ClipItem>(*capture->existingObject(second))->setTitle(u"titled"_s); // changes in place
            QVERIFY(capture->save());
        });
        QTRY_COMPARE(model.rowCount(), 21);
        QCOMPARE(listed(model), freshRun(store.view(), request));
        QCOMPARE(inserts.count(), 3);
        QCOMPARE(removals.count(), 2);
        QVERIFY(counted.count() >= 1);
        QCOMPARE(list.text(0), u"newest"_s);
        QCOMPARE(model.rowOf(fifth), 20);
        QVERIFY(changedIds.contains(second));
        const auto titleRole = model.roleNames().key(QByteArrayLiteral("title"));
        QCOMPARE(model.data(model.index(model.rowOf(second)), titleRole).toString(), u"titled"_s);

        // Many changes in one save (an import) still end equal.
        capture->performAndWait([&] {
            auto all = *capture->fetch<ClipItem>(FetchRequest::of<ClipItem>());
            for (int i = 0; i < all.size(); i += 2)
                capture->deleteObject(all[i]);
            for (int i = 0; i < 1500; ++i)
                insertText(capture.get(), u"imported %1"_s.arg(i))->setCreatedAt(at(i % 400));
            QVERIFY(capture->save());
        });
        QTRY_COMPARE(model.rowCount(), 1500 + 10);
        QCOMPARE(listed(model), freshRun(store.view(), request));
        QCOMPARE(list.resets.count(), 0);

        // A new predicate applies at once, and the view context's own saves count too.
        QVERIFY(model.setPredicate(searchFor(u"NEWEST"_s)));
        QCOMPARE(model.rowCount(), 1);
        model.at<ClipItem>(0)->setPlainText(u"no longer"_s);
        insertText(store.view(), u"the newest, again"_s)->setCreatedAt(at(0));
        QVERIFY(store.view()->save());
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(list.text(0), u"the newest, again"_s);
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
        const QStringList words{u"café"_s, u"tea"_s, u"CAFE au lait"_s, u"water"_s};
        for (int i = 0; i < 60; ++i) {
            auto item = insertText(store.view(), words[i % words.size()]);
            item->setCreatedAt(at(random.bounded(100))); // many equal dates
            item->setTitle(u"t%1"_s.arg(random.bounded(10)));
        }
        QVERIFY(store.view()->save());
        FetchRequest request = FetchRequest::of<ClipItem>();
        request.setSortDescriptors({{byTitle ? u"title"_s : u"createdAt"_s, byTitle}});
        if (search)
            request.setPredicate(searchFor(u"cafe"_s));
        LiveList list(store.view(), request);
        QVERIFY(list.fetch());

        auto background = store.container->newBackgroundContext();
        for (int round = 0; round < 40; ++round) {
            QSignalSpy merged(store.view(), &StoreContext::objectsDidChange);
            bool saved = false;
            background->performAndWait([&] {
                auto all = *background->fetch<ClipItem>(FetchRequest::of<ClipItem>());
                const int operations = 1 + int(random.bounded(4));
                for (int op = 0; op < operations && !all.isEmpty(); ++op) {
                    const auto &item = all[random.bounded(int(all.size()))];
                    const QString word = words[random.bounded(int(words.size()))];
                    switch (random.bounded(5)) {
                    case 0: background->deleteObject(item); break;
                    case 1: item->setCreatedAt(at(random.bounded(100))); break;
                    case 2: item->setPlainText(word); break;
                    case 3: item->setTitle(u"t%1"_s.arg(random.bounded(10))); break;
                    default: insertText(background.get(), word)->setCreatedAt(at(random.bounded(100)));
                    }
                }
                saved = background->hasChanges();
                QVERIFY(background->save());
            });
            QTRY_COMPARE(merged.count(), saved ? 1 : 0);
            QCOMPARE(listed(list.model), freshRun(store.view(), request));
        }
        QCOMPARE(list.resets.count(), 0);
    }

    void rowsLoadTheirObjectsOnDemand()
    {
        TestStore store;
        for (int i = 0; i < 200; ++i) {
            auto item = insertText(store.view(), u"item %1"_s.arg(i));
            item->setCreatedAt(at(i));
            item->setImageData(QByteArray(1000, 'x'));
        }
        QVERIFY(store.view()->save());
        store.reopen();
        FetchedResultsModel model(store.view(), itemsNewestFirst());
        QVERIFY(model.performFetch());
        QCOMPARE(model.rowCount(), 200);
        QCOMPARE(model.at<ClipItem>(150)->plainText(), u"item 49"_s);
        // The image bytes come when their role is asked for.
        const QHash<int, QByteArray> roles = model.roleNames();
        QCOMPARE(model.data(model.index(150), roles.key("imageData")).toByteArray().size(), 1000);
        QCOMPARE(model.data(model.index(0), roles.key("id")).toString().size(), 36);
        QVERIFY(model.data(model.index(3), FetchedResultsModel::UriRole).toString().startsWith(u"x-kestrelnote://"_s));
    }

    // Room for the rows is reserved from the key range: keys far apart (another program's
    // writes, a damaged store) must not ask for gigabytes.
    void keysFarApartStillList()
    {
        TestStore store;
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw);
            QCOMPARE(registerFoldingFunctions((*raw)->handle()), SQLITE_OK);
            QVERIFY((*raw)->exec(u"INSERT INTO ClipItem (pk, createdAt, plainText) VALUES "
                                 "(1, 1, 'first'), (4611686018427387904, 2, 'far away')"_s));
        }
        FetchedResultsModel model(store.view(), itemsNewestFirst());
        QVERIFY(model.performFetch());
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.at<ClipItem>(0)->plainText(), u"far away"_s);
        QCOMPARE(model.at<ClipItem>(1)->plainText(), u"first"_s);
    }
};

QTEST_GUILESS_MAIN(TestLiveResults)
#include "tst_liveresults.moc"
