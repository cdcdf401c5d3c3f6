#include "StoreTestSupport.h"

#include "store/sql/SqlConnection.h"

#include <QSignalSpy>

namespace {

qint64 countItems(StoreContext *context, std::optional<Predicate> predicate = std::nullopt)
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setPredicate(std::move(predicate));
    request.setIncludesPendingChanges(false);
    return context->performAndWait([&] { return context->count(request).value(); });
}

// Runs SQL on the store file from a connection of its own, as another program would.
void execOutside(const QString &path, const QString &sql)
{
    auto connection = sql::Connection::open(path, {});
    QVERIFY(connection);
    QVERIFY((*connection)->exec(sql));
}

} // namespace

class TestStoreContexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void saveIsAllOrNothing()
    {
        TestStore store;
        execOutside(store.path(), QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON ClipItem "
                                                 "WHEN new.title = 'refuse' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        StoreContext *view = store.view();
        insertText(view, QStringLiteral("first"));
        insertText(view, QStringLiteral("second"))->setTitle(QStringLiteral("refuse"));
        insertText(view, QStringLiteral("third"));
        QSignalSpy saved(view, &StoreContext::didSave);
        auto result = view->save();
        QVERIFY(!result);
        QVERIFY(result.error().message.contains(QStringLiteral("refused")));
        QCOMPARE(countItems(view), 0);
        QCOMPARE(saved.count(), 0);
        // The changes are still pending; rolling back drops them all.
        QVERIFY(view->hasChanges());
        QCOMPARE(view->insertedObjects().size(), 3);
        view->rollback();
        QVERIFY(!view->hasChanges());
    }

    void rollbackUndoesInsertsChangesAndDeletions()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto kept = insertText(view, QStringLiteral("kept"));
        auto doomed = insertText(view, QStringLiteral("doomed"));
        QVERIFY(view->save());

        kept->setTitle(QStringLiteral("new title"));
        kept->setPinned(true);
        view->deleteObject(doomed);
        auto added = insertText(view, QStringLiteral("added"));
        QVERIFY(doomed->isDeleted());
        QVERIFY(view->hasChanges());
        view->rollback();

        QVERIFY(!view->hasChanges());
        QVERIFY(!kept->title());
        QVERIFY(!kept->isPinned());
        QVERIFY(!doomed->isDeleted());
        QVERIFY(view->owns(*doomed));
        QVERIFY(!view->owns(*added));
        QCOMPARE(countItems(view), 2);
    }

    void refreshDropsLocalChangesAndRereads()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto edited = insertText(view, QStringLiteral("original"));
        auto doomed = insertText(view, QStringLiteral("short-lived"));
        QVERIFY(view->save());
        const ObjectId doomedId = doomed->objectId();
        // The view context does not merge here: only a refresh tells it.
        view->setAutomaticallyMergesChanges(false);
        auto background = store.container->newBackgroundContext();
        background->performAndWait([&] {
            auto other = objectCast<ClipItem>(*background->existingObject(edited->objectId()));
            other->setSourceAppName(QStringLiteral("Terminal"));
            background->deleteObject(*background->existingObject(doomedId));
            QVERIFY(background->save());
        });
        edited->setPlainText(QStringLiteral("local edit"));
        doomed->setTitle(QStringLiteral("edited meanwhile"));
        view->refresh(edited);
        view->refresh(doomed);
        QCOMPARE(edited->plainText(), std::optional<QString>(QStringLiteral("original")));
        QCOMPARE(edited->sourceAppName(), std::optional<QString>(QStringLiteral("Terminal")));
        QVERIFY(doomed->isDeleted());
        QVERIFY(!view->owns(*doomed));
        QVERIFY(!view->existingObject(doomedId));
        QVERIFY(!view->hasChanges());
    }

    void viewContextMergesBackgroundSavesKeepingItsUnsavedChanges()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto stays = insertText(view, QStringLiteral("stays"));
        auto goes = insertText(view, QStringLiteral("goes"));
        QVERIFY(view->save());
        stays->setTitle(QStringLiteral("typed, not saved"));
        QSignalSpy changed(view, &StoreContext::objectsDidChange);

        auto background = store.container->newBackgroundContext();
        background->performAndWait([&] {
            auto mine = objectCast<ClipItem>(*background->existingObject(stays->objectId()));
            mine->setTitle(QStringLiteral("from capture"));
            mine->setPinned(true);
            background->deleteObject(*background->existingObject(goes->objectId()));
            insertText(background.get(), QStringLiteral("new"));
            QVERIFY(background->save());
        });
        QTRY_COMPARE(changed.count(), 1);
        const auto changes = changed.first().first().value<ObjectChanges>();
        QCOMPARE(changes.inserted.size(), 1);
        QCOMPARE(changes.updated, QList<ObjectId>{stays->objectId()});
        QCOMPARE(changes.deleted, QList<ObjectId>{goes->objectId()});
        QVERIFY(view->existingObject(changes.inserted.first()));
        QVERIFY(goes->isDeleted());
        QVERIFY(!view->owns(*goes));
        // Stored values come in property by property; the unsaved title stays, and is what gets saved.
        QVERIFY(stays->isPinned());
        QCOMPARE(stays->title(), std::optional<QString>(QStringLiteral("typed, not saved")));
        QVERIFY(view->save());
        QCOMPARE(countItems(view, Predicate::equal(QStringLiteral("title"), QStringLiteral("typed, not saved"))), 1);
    }

    void concurrentEditsOfDifferentAttributesBothWin()
    {
        TestStore store;
        auto seed = insertText(store.view(), QStringLiteral("shared"));
        QVERIFY(store.view()->save());
        const ObjectId id = seed->objectId();
        auto capture = store.container->newBackgroundContext();
        auto import = store.container->newBackgroundContext();
        ClipItemPtr inCapture, inImport;
        capture->performAndWait([&] { inCapture = objectCast<ClipItem>(*capture->existingObject(id)); });
        import->performAndWait([&] { inImport = objectCast<ClipItem>(*import->existingObject(id)); });
        capture->performAndWait([&] {
            inCapture->setPinned(true);
            inCapture->setSourceAppName(QStringLiteral("Editor"));
        });
        import->performAndWait([&] {
            inImport->setLabelID(QStringLiteral("A1B2C3D4-0000-0000-0000-000000000000"));
            inImport->setSourceAppName(QStringLiteral("Paste"));
        });
        capture->performAndWait([&] { QVERIFY(capture->save()); });
        import->performAndWait([&] { QVERIFY(import->save()); });

        store.view()->refresh(seed);
        QVERIFY(seed->isPinned());
        QCOMPARE(seed->labelID(), std::optional<QString>(QStringLiteral("A1B2C3D4-0000-0000-0000-000000000000")));
        // The same attribute: the later save wins.
        QCOMPARE(seed->sourceAppName(), std::optional<QString>(QStringLiteral("Paste")));
        QCOMPARE(seed->plainText(), std::optional<QString>(QStringLiteral("shared")));
    }

    void updateOfARowDeletedMeanwhileIsDropped()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto doomed = insertText(view, QStringLiteral("doomed"));
        auto other = insertText(view, QStringLiteral("other"));
        QVERIFY(view->save());
        view->setAutomaticallyMergesChanges(false);
        auto background = store.container->newBackgroundContext();
        background->performAndWait([&] {
            background->deleteObject(*background->existingObject(doomed->objectId()));
            QVERIFY(background->save());
        });
        doomed->setTitle(QStringLiteral("too late"));
        doomed->setImageData(QByteArray(100, 'x'));
        other->setTitle(QStringLiteral("fine"));
        auto added = insertText(view, QStringLiteral("added"));
        QSignalSpy saved(view, &StoreContext::didSave);
        QVERIFY(view->save());
        QCOMPARE(countItems(view), 2);
        QVERIFY(doomed->isDeleted());
        const auto notification = saved.first().first().value<SaveNotification>();
        QCOMPARE(notification.updated.size(), 1);
        QCOMPARE(notification.updated.first().get(), other.get());
        QCOMPARE(countItems(view, Predicate::equal(QStringLiteral("title"), QStringLiteral("fine"))), 1);
        auto external = sql::Connection::open(store.path(), {});
        QCOMPARE(*(*external)->queryInt64(QStringLiteral("SELECT count(*) FROM ClipItem_external")), 0);
    }

    void didSaveCarriesTheSavedObjects()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto a = insertText(view, QStringLiteral("a"));
        auto b = insertText(view, QStringLiteral("b"));
        QVERIFY(view->save());
        QSignalSpy saved(view, &StoreContext::didSave);
        view->setName(QStringLiteral("viewContext"));
        view->setTransactionAuthor(QStringLiteral("app"));
        a->setPinned(true);
        view->deleteObject(b);
        auto c = insertText(view, QStringLiteral("c"));
        QVERIFY(!c->objectId().isValid() || c->objectId().isTemporary());
        QVERIFY(view->save());
        QVERIFY(!c->objectId().isTemporary());
        QCOMPARE(saved.count(), 1);
        const auto n = saved.first().first().value<SaveNotification>();
        QCOMPARE(n.contextName, QStringLiteral("viewContext"));
        QCOMPARE(n.transactionAuthor, QStringLiteral("app"));
        QCOMPARE(n.inserted.size(), 1);
        QCOMPARE(n.inserted.first().get(), c.get());
        QCOMPARE(n.updated.first().get(), a.get());
        QCOMPARE(n.deleted.first().get(), b.get());
        QCOMPARE(objectCast<ClipItem>(n.deleted.first())->plainText(), std::optional<QString>(QStringLiteral("b")));
        QCOMPARE(n.changes.inserted, QList<ObjectId>{c->objectId()});
        // A save without changes writes nothing and says nothing.
        QVERIFY(view->save());
        QCOMPARE(saved.count(), 1);
    }

    void blocksRunInOrderOnTheirQueue()
    {
        TestStore store;
        auto background = store.container->newBackgroundContext();
        QList<int> order;
        QThread *seen = nullptr;
        for (int i = 0; i < 50; ++i)
            background->perform([&order, i] { order.append(i); });
        background->performAndWait([&] {
            seen = QThread::currentThread();
            order.append(50);
            // Waiting from the queue itself runs at once instead of deadlocking.
            background->performAndWait([&] { order.append(51); });
        });
        QCOMPARE(order.size(), 52);
        for (int i = 0; i < 52; ++i)
            QCOMPARE(order[i], i);
        QVERIFY(seen != QThread::currentThread());
    }

    void callsOffTheQueueAreRefused()
    {
        TestStore store;
        auto background = store.container->newBackgroundContext();
        auto fetched = background->fetch(FetchRequest::of<ClipItem>());
        QVERIFY(!fetched);
        QCOMPARE(fetched.error().code, StoreError::Code::WrongQueue);
        QCOMPARE(background->save().error().code, StoreError::Code::WrongQueue);
        QVERIFY(!background->insert<ClipItem>());
    }

    void oneObjectPerRowAndUrisResolveOnlyWhileItLives()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto item = insertText(view, QStringLiteral("referenced"));
        QVERIFY(view->save());
        // One object per row: a fetch and a look-up by id give back the very same item.
        auto fetched = view->fetch<ClipItem>(FetchRequest::of<ClipItem>());
        QVERIFY(fetched && fetched->size() == 1);
        QCOMPARE(fetched->first().get(), item.get());
        QCOMPARE(view->existingObject(item->objectId())->get(), item.get());
        const QString uri = item->objectId().uriRepresentation();
        QVERIFY(uri.startsWith(QStringLiteral("x-kestrelnote://")));

        auto background = store.container->newBackgroundContext();
        background->performAndWait([&] {
            auto id = store.container->objectIdForUri(uri);
            QVERIFY(id);
            auto found = background->existingObject(*id);
            QVERIFY(found);
            QCOMPARE(objectCast<ClipItem>(*found)->plainText(), std::optional<QString>(QStringLiteral("referenced")));
            background->deleteObject(*found);
            QVERIFY(background->save());
        });
        // Another store of the same shape knows nothing of it.
        TestStore other;
        QVERIFY(!other.container->objectIdForUri(uri));
        QVERIFY(!store.container->objectIdForUri(QStringLiteral("x-kestrelnote://nothing/ClipItem/p1")));
        QVERIFY(!store.container->objectIdForUri(QStringLiteral("not a uri")));

        auto id = store.container->objectIdForUri(uri);
        QVERIFY(id);
        QTRY_VERIFY(item->isDeleted());
        auto gone = view->existingObject(*id);
        QVERIFY(!gone);
        QCOMPARE(gone.error().code, StoreError::Code::ObjectNotFound);
        // A new item never takes the number of a deleted one.
        auto next = insertText(view, QStringLiteral("next"));
        QVERIFY(view->save());
        QVERIFY(next->objectId().uriRepresentation() != uri);
    }

    void deletedObjectsAreTrulyRemoved()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto item = insertText(view, QStringLiteral("with an image"));
        item->setImageData(QByteArray(4096, 'i'));
        QVERIFY(view->save());
        view->deleteObject(item);
        QVERIFY(view->save());
        auto connection = sql::Connection::open(store.path(), {});
        for (const QString &table : {QStringLiteral("ClipItem"), QStringLiteral("ClipItem_external"),
                                     QStringLiteral("ClipItem_folded")})
            QCOMPARE(*(*connection)->queryInt64(QStringLiteral("SELECT count(*) FROM ") + table), 0);
    }
};

QTEST_GUILESS_MAIN(TestStoreContexts)
#include "tst_storecontexts.moc"
