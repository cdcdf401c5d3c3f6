#include "StoreTestSupport.h"

#include "store/FetchedResultsModel.h"

#include <QProcess>
#include <QSignalSpy>

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
        auto local = insertText(view, QStringLiteral("local"));
        QVERIFY(view->save());
        FetchedResultsModel model(view, itemsNewestFirst());
        QVERIFY(model.performFetch());
        QSignalSpy remote(store.container.get(), &StoreContainer::remoteChange);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);

        QVERIFY(runHelper({QStringLiteral("write"), store.path(), QStringLiteral("3"), QStringLiteral("cli")}));
        QVERIFY(remote.wait(5000));
        const auto change = remote.first().first().value<RemoteChange>();
        QCOMPARE(change.authors, QStringList{QStringLiteral("cli")});
        QCOMPARE(change.changes.inserted.size(), 3);
        QVERIFY(!change.changes.everythingMayHaveChanged);
        // The view context took the changes in before the signal.
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(listed(model), freshRun(view, itemsNewestFirst()));
        QCOMPARE(resets.count(), 0);
        QVERIFY(inserts.count() >= 1);
        QVERIFY(model.data(model.index(0), Qt::DisplayRole).toString().startsWith(QStringLiteral("cli item")));
        QVERIFY(view->existingObject(change.changes.inserted.first()));
    }

    void ownSavesAreNotRemote()
    {
        TestStore store;
        QSignalSpy remote(store.container.get(), &StoreContainer::remoteChange);
        insertText(store.view(), QStringLiteral("from the view"));
        QVERIFY(store.view()->save());
        auto capture = store.container->newBackgroundContext();
        capture->performAndWait([&] {
            insertText(capture.get(), QStringLiteral("from capture"));
            QVERIFY(capture->save());
        });
        QTest::qWait(1000);
        QCOMPARE(remote.count(), 0);
    }

    void anUnrecordedWriteRefreshesEverything()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto doomed = insertText(view, QStringLiteral("doomed"));
        QVERIFY(view->save());
        FetchedResultsModel model(view, itemsNewestFirst());
        QVERIFY(model.performFetch());
        QCOMPARE(model.rowCount(), 1);
        QSignalSpy remote(store.container.get(), &StoreContainer::remoteChange);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

        QVERIFY(runHelper({QStringLiteral("delete-raw"), store.path()}));
        QVERIFY(remote.wait(5000));
        QVERIFY(remote.first().first().value<RemoteChange>().changes.everythingMayHaveChanged);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(resets.count(), 0);
        QVERIFY(doomed->isDeleted());
    }

    void twoContainersOnOneFileSeeEachOther()
    {
        TestStore store;
        StoreContainer other(QStringLiteral("Kestrelnote"));
        other.storeDescription().path = store.path();
        QVERIFY(other.loadPersistentStore());
        other.viewContext()->setAutomaticallyMergesChanges(true);
        QCOMPARE(other.storeIdentifier(), store.container->storeIdentifier());

        auto item = insertText(store.view(), QStringLiteral("shared"));
        QVERIFY(store.view()->save());
        auto mirror = objectCast<ClipItem>(*other.viewContext()->existingObject(item->objectId()));
        QVERIFY(mirror);
        QSignalSpy remote(&other, &StoreContainer::remoteChange);
        item->setTitle(QStringLiteral("renamed"));
        QVERIFY(store.view()->save());
        QVERIFY(remote.wait(5000));
        QCOMPARE(remote.first().first().value<RemoteChange>().changes.updated, QList<ObjectId>{item->objectId()});
        QCOMPARE(mirror->title(), std::optional<QString>(QStringLiteral("renamed")));
    }
};

QTEST_GUILESS_MAIN(TestRemoteChange)
#include "tst_remotechange.moc"
