#include "StoreTestSupport.h"

#include "store/FetchedResultsModel.h"
#include "store/sql/SqlConnection.h"

#include <QProcess>
#include <QSignalSpy>

using namespace Qt::StringLiterals;

namespace {

bool runHelper(const QStringList &arguments)
{
    QProcess helper;
    helper.start(QStringLiteral(KN_STORE_HELPER), arguments);
    if (!helper.waitForFinished(20000) || helper.exitCode() != 0) {
        qWarning() << "store_helper failed:" << helper.readAllStandardError();
        return false;
    }
    return helper.readAllStandardOutput().trimmed() == "done";
}

} // namespace

class TestRemoteChange : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void anotherProcessIsNoticedAndMerged()
    {
        TestStore store;
        StoreContext *view = store.view();
        insertText(view, u"local"_s);
        QVERIFY(view->save());
        FetchedResultsModel model(view, itemsNewestFirst());
        QVERIFY(model.performFetch());
        QSignalSpy remote(store.container.get(), &StoreContainer::remoteChange);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

        QVERIFY(runHelper({u"write"_s, store.path(), u"3"_s, u"cli"_s}));
        QVERIFY(remote.wait(5000));
        const auto change = remote.first().first().value<RemoteChange>();
        QCOMPARE(change.authors, QStringList{u"cli"_s});
        QCOMPARE(change.changes.inserted.size(), 3);
        QVERIFY(!change.changes.everythingMayHaveChanged);
        // The view context took the changes in before the signal.
        QCOMPARE(listed(model), freshRun(view, itemsNewestFirst()));
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(resets.count(), 0);
        QVERIFY(model.data(model.index(0), Qt::DisplayRole).toString().startsWith(u"cli item"_s));
        QVERIFY(view->existingObject(change.changes.inserted.first()));
    }

    void anUnrecordedWriteRefreshesEverything()
    {
        TestStore store;
        auto doomed = insertText(store.view(), u"doomed"_s);
        QVERIFY(store.view()->save());
        FetchedResultsModel model(store.view(), itemsNewestFirst());
        QVERIFY(model.performFetch());
        QSignalSpy remote(store.container.get(), &StoreContainer::remoteChange);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

        // Plain SQL from a connection of its own, as another program would.
        auto raw = sql::Connection::open(store.path(), {});
        QVERIFY(raw && (*raw)->exec(u"DELETE FROM ClipItem"_s));
        QVERIFY(remote.wait(5000));
        QVERIFY(remote.first().first().value<RemoteChange>().changes.everythingMayHaveChanged);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(resets.count(), 0);
        QVERIFY(doomed->isDeleted());
    }

    // Another container changes an item, then deletes it, between two polls, while only this
    // view's unsaved change of it holds the item.
    void anItemChangedThenDeletedElsewhereLeavesTheView()
    {
        TestStore store;
        StoreContainer other(u"Kestrelnote"_s);
        other.storeDescription().path = store.path();
        QVERIFY(other.loadPersistentStore());
        StoreContext *view = store.view();
        auto item = insertText(view, u"doomed"_s);
        QVERIFY(view->save());
        const ObjectId id = item->objectId();
        item->setTitle(u"unsaved"_s);
        item.reset();
        QSignalSpy remote(store.container.get(), &StoreContainer::remoteChange);
        {
            // One turn of the event loop, so that one poll sees both saves.
            StoreContext *theirs = other.viewContext();
            auto mirror = objectCast<ClipItem>(*theirs->existingObject(id));
            mirror->setPinned(true);
            QVERIFY(theirs->save());
            theirs->deleteObject(mirror);
            QVERIFY(theirs->save());
        }
        QVERIFY(remote.wait(5000));
        const auto change = remote.first().first().value<RemoteChange>();
        QCOMPARE(change.changes.updated, QList<ObjectId>{id});
        QCOMPARE(change.changes.deleted, QList<ObjectId>{id});
        QVERIFY(!view->hasChanges());
        QCOMPARE(view->existingObject(id).error().code, StoreError::Code::ObjectNotFound);
    }

    // Two containers on one file see each other's saves; a container's own saves, from any
    // of its contexts, are never remote to itself.
    void onlyOtherContainersSavesAreRemote()
    {
        TestStore store;
        StoreContainer other(u"Kestrelnote"_s);
        other.storeDescription().path = store.path();
        QVERIFY(other.loadPersistentStore());
        other.viewContext()->setAutomaticallyMergesChanges(true);
        QCOMPARE(other.storeIdentifier(), store.container->storeIdentifier());

        auto item = insertText(store.view(), u"shared"_s);
        QVERIFY(store.view()->save());
        auto mirror = objectCast<ClipItem>(*other.viewContext()->existingObject(item->objectId()));
        QVERIFY(mirror);
        QSignalSpy ownRemote(store.container.get(), &StoreContainer::remoteChange);
        QSignalSpy remote(&other, &StoreContainer::remoteChange);
        item->setTitle(u"renamed"_s);
        QVERIFY(store.view()->save());
        auto capture = store.container->newBackgroundContext();
        capture->performAndWait([&] {
            insertText(capture.get(), u"from capture"_s);
            QVERIFY(capture->save());
        });
        QVERIFY(remote.wait(5000));
        QCOMPARE(remote.first().first().value<RemoteChange>().changes.updated, QList<ObjectId>{item->objectId()});
        QCOMPARE(mirror->title(), u"renamed"_s);
        QTest::qWait(1000);
        QCOMPARE(ownRemote.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRemoteChange)
#include "tst_remotechange.moc"
