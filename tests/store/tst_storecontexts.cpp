#include "StoreTestSupport.h"

#include "store/sql/SqlConnection.h"

#include <QSignalSpy>

using namespace Qt::StringLiterals;

namespace {

qint64 countItems(StoreContext *context, std::optional<Predicate> predicate = std::nullopt)
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setPredicate(std::move(predicate));
    request.setIncludesPendingChanges(false);
    return context->performAndWait([&] { return context->count(request).value(); });
}

ClipItemPtr itemIn(StoreContext *context, const ObjectId &id)
{
    return objectCast<ClipItem>(*context->existingObject(id));
}

// Changes made and saved on a background context of the store, as capture or import would.
void saveInBackground(TestStore &store, const std::function<void(StoreContext *)> &change)
{
    auto background = store.container->newBackgroundContext();
    background->performAndWait([&] {
        change(background.get());
        QVERIFY(background->save());
    });
}

// Runs SQL on the store file from a connection of its own, as another program would.
qint64 queryOutside(const QString &path, const QString &sql)
{
    auto connection = sql::Connection::open(path, {});
    auto value = connection ? (*connection)->queryInt64(sql) : StoreResult<qint64>(connection.error());
    return value ? *value : -1;
}

} // namespace

class TestStoreContexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void saveIsAllOrNothing()
    {
        TestStore store;
        auto connection = sql::Connection::open(store.path(), {});
        QVERIFY((*connection)->exec(u"CREATE TRIGGER refuse BEFORE INSERT ON ClipItem "
                                    "WHEN new.title = 'refuse' BEGIN SELECT RAISE(ABORT, 'refused'); END"_s));
        StoreContext *view = store.view();
        insertText(view, u"first"_s);
        insertText(view, u"second"_s)->setTitle(u"refuse"_s);
        insertText(view, u"third"_s);
        QSignalSpy saved(view, &StoreContext::didSave);
        auto result = view->save();
        QVERIFY(!result);
        QVERIFY(result.error().message.contains(u"refused"_s));
        QCOMPARE(countItems(view), 0);
        QCOMPARE(saved.count(), 0);
        QCOMPARE(view->insertedObjects().size(), 3); // still pending, not lost
    }

    void rollbackUndoesInsertsChangesAndDeletions()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto kept = insertText(view, u"kept"_s);
        auto doomed = insertText(view, u"doomed"_s);
        QVERIFY(view->save());

        kept->setTitle(u"new title"_s);
        kept->setPinned(true);
        view->deleteObject(doomed);
        auto added = insertText(view, u"added"_s);
        QVERIFY(doomed->isDeleted());
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
        auto edited = insertText(view, u"original"_s);
        auto doomed = insertText(view, u"short-lived"_s);
        QVERIFY(view->save());
        const ObjectId doomedId = doomed->objectId();
        // The view context does not merge here: only a refresh tells it.
        view->setAutomaticallyMergesChanges(false);
        saveInBackground(store, [&](StoreContext *background) {
            itemIn(background, edited->objectId())->setSourceAppName(u"Terminal"_s);
            background->deleteObject(*background->existingObject(doomedId));
        });
        edited->setPlainText(u"local edit"_s);
        doomed->setTitle(u"edited meanwhile"_s);
        view->refresh(edited);
        view->refresh(doomed);
        QCOMPARE(edited->plainText(), u"original"_s);
        QCOMPARE(edited->sourceAppName(), u"Terminal"_s);
        QVERIFY(doomed->isDeleted());
        QVERIFY(!view->owns(*doomed));
        QVERIFY(!view->existingObject(doomedId));
        QVERIFY(!view->hasChanges());
    }

    void viewContextMergesBackgroundSavesKeepingItsUnsavedChanges()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto stays = insertText(view, u"stays"_s);
        auto goes = insertText(view, u"goes"_s);
        QVERIFY(view->save());
        stays->setTitle(u"typed, not saved"_s);
        QSignalSpy changed(view, &StoreContext::objectsDidChange);
        saveInBackground(store, [&](StoreContext *background) {
            auto mine = itemIn(background, stays->objectId());
            mine->setTitle(u"from capture"_s);
            mine->setPinned(true);
            background->deleteObject(*background->existingObject(goes->objectId()));
            insertText(background, u"new"_s);
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
        QCOMPARE(stays->title(), u"typed, not saved"_s);
        QVERIFY(view->save());
        QCOMPARE(countItems(view, Predicate::equal(u"title"_s, u"typed, not saved"_s)), 1);
    }

    void concurrentEditsOfDifferentAttributesBothWin()
    {
        TestStore store;
        auto seed = insertText(store.view(), u"shared"_s);
        QVERIFY(store.view()->save());
        const ObjectId id = seed->objectId();
        auto capture = store.container->newBackgroundContext();
        auto import = store.container->newBackgroundContext();
        // Both hold the item, edited, before either saves.
        capture->performAndWait([&] {
            auto item = itemIn(capture.get(), id);
            item->setPinned(true);
            item->setSourceAppName(u"Editor"_s);
        });
        import->performAndWait([&] {
            auto item = itemIn(import.get(), id);
            item->setLabelID(u"A1B2C3D4-0000-0000-0000-000000000000"_s);
            item->setSourceAppName(u"Paste"_s);
        });
        capture->performAndWait([&] { QVERIFY(capture->save()); });
        import->performAndWait([&] { QVERIFY(import->save()); });

        store.view()->refresh(seed);
        QVERIFY(seed->isPinned());
        QCOMPARE(seed->labelID(), u"A1B2C3D4-0000-0000-0000-000000000000"_s);
        // The same attribute: the later save wins.
        QCOMPARE(seed->sourceAppName(), u"Paste"_s);
        QCOMPARE(seed->plainText(), u"shared"_s);
    }

    // An update of a row deleted meanwhile is dropped, and a deleted item leaves nothing of
    // its content behind (image, folded text, search characters).
    void aDeletedRowLeavesNoTrace()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto doomed = insertText(view, u"secret doomed"_s);
        doomed->setImageData(QByteArray(4096, 'i'));
        auto other = insertText(view, u"other"_s);
        QVERIFY(view->save());
        view->setAutomaticallyMergesChanges(false);
        saveInBackground(store, [&](StoreContext *background) {
            background->deleteObject(*background->existingObject(doomed->objectId()));
        });
        doomed->setTitle(u"too late"_s);
        doomed->setImageData(QByteArray(100, 'x'));
        other->setTitle(u"fine"_s);
        insertText(view, u"added"_s);
        QSignalSpy saved(view, &StoreContext::didSave);
        QVERIFY(view->save());
        QCOMPARE(countItems(view), 2);
        QVERIFY(doomed->isDeleted());
        const auto notification = saved.first().first().value<SaveNotification>();
        QCOMPARE(notification.updated.size(), 1);
        QCOMPARE(notification.updated.first().get(), other.get());
        QCOMPARE(countItems(view, Predicate::equal(u"title"_s, u"fine"_s)), 1);

        view->deleteObject(other);
        QVERIFY(view->save());
        QCOMPARE(queryOutside(store.path(), u"SELECT count(*) FROM ClipItem_external"_s), 0);
        for (const QString &table : {u"ClipItem_folded"_s, u"ClipItem_characters"_s})
            QCOMPARE(queryOutside(store.path(), u"SELECT count(*) FROM %1 WHERE pk NOT IN (SELECT pk FROM ClipItem)"_s.arg(table)), 0);
    }

    void didSaveCarriesTheSavedObjects()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto a = insertText(view, u"a"_s);
        auto b = insertText(view, u"b"_s);
        QVERIFY(view->save());
        QSignalSpy saved(view, &StoreContext::didSave);
        a->setPinned(true);
        view->deleteObject(b);
        auto c = insertText(view, u"c"_s);
        QVERIFY(view->save());
        QVERIFY(!c->objectId().isTemporary());
        QCOMPARE(saved.count(), 1);
        const auto n = saved.first().first().value<SaveNotification>();
        QCOMPARE(n.inserted.size(), 1);
        QCOMPARE(n.inserted.first().get(), c.get());
        QCOMPARE(n.updated.first().get(), a.get());
        QCOMPARE(objectCast<ClipItem>(n.deleted.first())->plainText(), u"b"_s);
        QCOMPARE(n.changes.inserted, QList<ObjectId>{c->objectId()});
        // A save without changes writes nothing and says nothing.
        QVERIFY(view->save());
        QCOMPARE(saved.count(), 1);
    }

    void workRunsInOrderOnlyOnItsQueue()
    {
        TestStore store;
        auto background = store.container->newBackgroundContext();
        QCOMPARE(background->fetch(FetchRequest::of<ClipItem>()).error().code, StoreError::Code::WrongQueue);
        QCOMPARE(background->save().error().code, StoreError::Code::WrongQueue);
        QVERIFY(!background->insert<ClipItem>());

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
        QList<int> expected(52);
        std::iota(expected.begin(), expected.end(), 0);
        QCOMPARE(order, expected);
        QVERIFY(seen != QThread::currentThread());
    }

    void oneObjectPerRowAndUrisResolveOnlyWhileItLives()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto item = insertText(view, u"referenced"_s);
        QVERIFY(view->save());
        auto fetched = view->fetch<ClipItem>(FetchRequest::of<ClipItem>());
        QCOMPARE(fetched->first().get(), item.get());
        QCOMPARE(view->existingObject(item->objectId())->get(), item.get());
        const QString uri = item->objectId().uriRepresentation();
        QVERIFY(uri.startsWith(u"x-kestrelnote://"_s));
        // Another store of the same shape knows nothing of it, nor of made-up addresses.
        QVERIFY(!TestStore().container->objectIdForUri(uri));
        QVERIFY(!store.container->objectIdForUri(u"x-kestrelnote://nothing/ClipItem/p1"_s));
        QVERIFY(!store.container->objectIdForUri(u"not a uri"_s));

        saveInBackground(store, [&](StoreContext *background) {
            auto found = itemIn(background, *store.container->objectIdForUri(uri));
            QCOMPARE(found->plainText(), u"referenced"_s);
            background->deleteObject(found);
        });
        QTRY_VERIFY(item->isDeleted());
        QCOMPARE(view->existingObject(*store.container->objectIdForUri(uri)).error().code,
                 StoreError::Code::ObjectNotFound);
        // A new item never takes the number of a deleted one.
        auto next = insertText(view, u"next"_s);
        QVERIFY(view->save());
        QVERIFY(next->objectId().uriRepresentation() != uri);

        // A context that does not take in other saves still finds its copy gone once the row is.
        view->setAutomaticallyMergesChanges(false);
        QCOMPARE(itemIn(view, next->objectId())->plainText(), u"next"_s);
        saveInBackground(store, [&](StoreContext *background) {
            background->deleteObject(*background->existingObject(next->objectId()));
        });
        QCOMPARE(view->existingObject(next->objectId()).error().code, StoreError::Code::ObjectNotFound);
        QVERIFY(next->isDeleted());
        QVERIFY(view->existingObjects({next->objectId()})->isEmpty());
    }

    // Unsaved items tied in the order with saved ones are listed where their rows will be once
    // saved: after every saved row, in the order they were inserted.
    void aFetchWithUnsavedItemsOrdersTiesAsTheSaveWill()
    {
        TestStore store;
        StoreContext *view = store.view();
        const QDateTime same = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
        for (const QString &text : {u"saved 1"_s, u"saved 2"_s})
            insertText(view, text)->setCreatedAt(same);
        QVERIFY(view->save());
        for (const QString &text : {u"new 1"_s, u"new 2"_s})
            insertText(view, text)->setCreatedAt(same);

        for (bool ascending : {true, false}) {
            FetchRequest request = FetchRequest::of<ClipItem>();
            request.setSortDescriptors({{u"createdAt"_s, ascending}});
            const QStringList expected = ascending ? QStringList{u"saved 1"_s, u"saved 2"_s, u"new 1"_s, u"new 2"_s}
                                                   : QStringList{u"new 2"_s, u"new 1"_s, u"saved 2"_s, u"saved 1"_s};
            QCOMPARE(textsOf(*view->fetch<ClipItem>(request)), expected);
            // The newest item is the one that will be newest.
            request.setFetchLimit(1);
            QCOMPARE(textsOf(*view->fetch<ClipItem>(request)), expected.mid(0, 1));
        }
        QVERIFY(view->save());
        FetchRequest request = FetchRequest::of<ClipItem>();
        request.setSortDescriptors({{u"createdAt"_s, false}});
        QCOMPARE(textsOf(*view->fetch<ClipItem>(request)),
                 (QStringList{u"new 2"_s, u"new 1"_s, u"saved 2"_s, u"saved 1"_s}));
    }

    // Text comes back character for character, a byte order mark at the start included, and
    // a search finds it the same way in the store and in memory.
    void textsComeBackAsSaved()
    {
        TestStore store;
        const QStringList texts{u"\uFEFFmarked"_s, u"\uFEFF\uFEFFtwice 😀"_s, u"nul\0inside"_s};
        for (const QString &text : texts)
            insertText(store.view(), text);
        QVERIFY(store.view()->save());
        auto background = store.container->newBackgroundContext();
        background->performAndWait([&] {
            FetchRequest request = FetchRequest::of<ClipItem>();
            request.setSortDescriptors({{u"createdAt"_s, true}});
            QStringList read;
            for (const ClipItemPtr &item : *background->fetch<ClipItem>(request))
                read.append(item->plainText().value_or(QString()));
            QCOMPARE(read, texts);
            request.setPredicate(Predicate::contains(u"plainText"_s, u"\uFEFFTWICE"_s, TextComparison::CaseDiacriticInsensitive));
            QCOMPARE(background->count(request).value(), 1);
        });
    }
};

QTEST_GUILESS_MAIN(TestStoreContexts)
#include "tst_storecontexts.moc"
