#include "FaultVfs.h"
#include "StoreTestSupport.h"

#include "platform/log/Log.h"

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
    // A change the list could not read (an I/O error) is not lost: the next change has the
    // whole list read again.
    void aChangeThatCouldNotBeReadIsCaughtUpByTheNext()
    {
        QTemporaryDir dir;
        StoreContainer container(u"Kestrelnote"_s);
        container.storeDescription().path = dir.filePath(u"Kestrelnote.sqlite"_s);
        container.storeDescription().vfs = faultvfs::install();
        container.viewContext()->setAutomaticallyMergesChanges(true);
        QVERIFY(container.loadPersistentStore());
        LiveList list(container.viewContext(), itemsNewestFirst());
        QVERIFY(list.fetch());
        auto background = container.newBackgroundContext();
        const auto saveText = [&](const QString &text, qint64 seconds) {
            background->performAndWait([&] {
                insertText(background.get(), text)->setCreatedAt(at(seconds));
                QVERIFY(background->save());
            });
        };

        klog::Recorder log;
        const auto missed = [&] {
            return log.messages(klog::Category::Persistence, klog::Level::Error)
                .filter(u"live results could not follow a change"_s).size();
        };
        saveText(u"unseen"_s, 10);
        faultvfs::failReads(SQLITE_IOERR_READ);
        QTRY_COMPARE(missed(), 1);
        faultvfs::reset();
        QCOMPARE(list.model.count(), 0);

        saveText(u"next"_s, 20);
        QTRY_COMPARE(list.model.count(), 2);
        QCOMPARE(list.text(0), u"next"_s);
        QCOMPARE(list.text(1), u"unseen"_s);
        QCOMPARE(list.resets.size(), 0);
    }

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

    // A list read again between a save and its merge, when a later save moves the new row
    // before that merge arrives, lists the row once.
    void aNewRowListedBeforeItsMergeIsNotListedTwice()
    {
        TestStore store;
        for (int i = 0; i < 5; ++i)
            insertText(store.view(), u"item %1"_s.arg(i))->setCreatedAt(at(i * 10));
        QVERIFY(store.view()->save());
        const FetchRequest request = itemsNewestFirst();
        LiveList list(store.view(), request);
        QVERIFY(list.fetch());
        QSignalSpy merged(store.view(), &StoreContext::objectsDidChange);

        auto capture = store.container->newBackgroundContext();
        ObjectId added;
        capture->performAndWait([&] {
            auto item = insertText(capture.get(), u"new"_s);
            item->setCreatedAt(at(100));
            QVERIFY(capture->save());
            added = item->objectId();
        });
        QVERIFY(list.model.performFetch());
        capture->performAndWait([&] {
            objectCast<ClipItem>(*capture->existingObject(added))->setCreatedAt(at(15));
            QVERIFY(capture->save());
        });
        QTRY_COMPARE(merged.count(), 2);
        QCOMPARE(listed(list.model), freshRun(store.view(), request));
    }

    // The shelf's searches and filters, one after another, while other contexts save: a search
    // narrows the rows it already has only while the store is as they were read, or as the
    // changes merged since have made them.
    void searchesStayEqualToAFreshRunAsTheStoreChanges()
    {
        TestStore store;
        QRandomGenerator random(20261207);
        const QStringList words{u"café au lait"_s, u"Tea"_s, u"CAFE"_s, u"water, é"_s, u"x"_s};
        auto fill = [&](const ClipItemPtr &item) {
            item->setPlainText(words[random.bounded(int(words.size()))]);
            item->setCreatedAt(at(random.bounded(50))); // many equal dates
            item->setPinned(random.bounded(3) == 0);
            item->setSourceAppName(random.bounded(2) ? u"Editor"_s : u"Café Browser"_s);
            if (random.bounded(4) == 0)
                item->setKind(ClipKind::File);
        };
        for (int i = 0; i < 80; ++i)
            fill(insertText(store.view(), {}));
        QVERIFY(store.view()->save());

        const auto cd = TextComparison::CaseDiacriticInsensitive;
        auto search = [&](const QString &text) {
            return Predicate::anyOf({Predicate::contains(u"plainText"_s, text, cd),
                                     Predicate::contains(u"fileName"_s, text, cd),
                                     Predicate::contains(u"sourceAppName"_s, text, cd),
                                     Predicate::contains(u"title"_s, text, cd)});
        };
        const QList<std::optional<Predicate>> filters{std::nullopt, Predicate::equal(u"kind"_s, u"text"_s),
                                                      Predicate::equal(u"isPinned"_s, true)};
        const QStringList texts{u"É"_s, u"ca"_s, u"CAFÉ"_s, u"au lait"_s, u" "_s, u"tea"_s, u"zzz"_s};

        FetchRequest request = itemsNewestFirst();
        LiveList list(store.view(), request);
        QVERIFY(list.fetch());
        auto background = store.container->newBackgroundContext();
        for (int round = 0; round < 120; ++round) {
            // Saved, and merged into the view context before the predicate changes or not yet.
            QSignalSpy merged(store.view(), &StoreContext::objectsDidChange);
            bool change = false;
            if (random.bounded(3) == 0) {
                background->performAndWait([&] {
                    auto all = *background->fetch<ClipItem>(FetchRequest::of<ClipItem>());
                    const auto &item = all[random.bounded(int(all.size()))];
                    switch (random.bounded(4)) {
                    case 0: background->deleteObject(item); break;
                    case 1: item->setCreatedAt(at(random.bounded(50))); break;
                    case 2: item->setPlainText(words[random.bounded(int(words.size()))]); break;
                    default: fill(background->insert<ClipItem>());
                    }
                    change = background->hasChanges(); // the same value again is no change
                    QVERIFY(background->save());
                });
                if (change && random.bounded(2))
                    QTRY_COMPARE(merged.count(), 1);
            }
            const std::optional<Predicate> &filter = filters[random.bounded(int(filters.size()))];
            std::optional<Predicate> predicate = filter;
            if (random.bounded(3) != 0) {
                const Predicate searched = search(texts[random.bounded(int(texts.size()))]);
                predicate = filter ? Predicate::allOf({*filter, searched}) : searched;
            }
            request.setPredicate(predicate);
            QVERIFY(list.model.setPredicate(predicate));
            QCOMPARE(listed(list.model), freshRun(store.view(), request));
            if (change) {
                QTRY_COMPARE(merged.count(), 1);
                QCOMPARE(listed(list.model), freshRun(store.view(), request));
            }
        }
    }

    // Another program's write that no poll has reported yet, then a save of this process that
    // the list follows: the list's rows are not those of the store after that save, so a
    // search must not narrow them.
    void aSearchSeesWritesTheListWasNotToldOf()
    {
        QTemporaryDir dir;
        StoreContainer container(u"Kestrelnote"_s);
        container.storeDescription().path = dir.filePath(u"Kestrelnote.sqlite"_s);
        container.storeDescription().remoteChangePollIntervalMs = 3'600'000;
        container.viewContext()->setAutomaticallyMergesChanges(true);
        QVERIFY(container.loadPersistentStore());
        StoreContext *view = container.viewContext();
        for (int i = 0; i < 10; ++i)
            insertText(view, u"café %1"_s.arg(i))->setCreatedAt(at(i));
        QVERIFY(view->save());
        FetchRequest request = itemsNewestFirst();
        LiveList list(view, request);
        QVERIFY(list.fetch());

        {
            auto raw = sql::Connection::open(container.storeDescription().path, {});
            QVERIFY(raw);
            QCOMPARE(registerFoldingFunctions((*raw)->handle()), SQLITE_OK);
            QVERIFY((*raw)->exec(u"INSERT INTO ClipItem (createdAt, kind, plainText) VALUES (5, 'text', 'CAFE too')"_s));
        }
        QSignalSpy merged(view, &StoreContext::objectsDidChange);
        auto background = container.newBackgroundContext();
        background->performAndWait([&] {
            insertText(background.get(), u"tea"_s)->setCreatedAt(at(20));
            QVERIFY(background->save());
        });
        QTRY_COMPARE(merged.count(), 1);
        QCOMPARE(list.model.rowCount(), 11);

        request.setPredicate(searchFor(u"cafe"_s));
        QVERIFY(list.model.setPredicate(request.predicate()));
        QCOMPARE(list.model.rowCount(), 11);
        QCOMPARE(listed(list.model), freshRun(view, request));
    }

    // Saves before the first fetch must not make a partial list.
    void nothingIsListedBeforeTheFirstFetch()
    {
        TestStore store;
        insertText(store.view(), u"saved before"_s)->setCreatedAt(at(1));
        QVERIFY(store.view()->save());
        FetchedResultsModel model(store.view(), itemsNewestFirst());
        insertText(store.view(), u"saved after"_s)->setCreatedAt(at(2));
        QVERIFY(store.view()->save());
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(model.performFetch());
        QCOMPARE(listed(model), freshRun(store.view(), itemsNewestFirst()));
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

    // Room for the rows is reserved from the key range, and a search tests keys against a
    // bitmap over their range: keys far apart or below zero (another program's writes, a
    // damaged store) must neither ask for gigabytes nor be missed.
    void keysFarApartStillList()
    {
        TestStore store;
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw);
            QCOMPARE(registerFoldingFunctions((*raw)->handle()), SQLITE_OK);
            QVERIFY((*raw)->exec(u"INSERT INTO ClipItem (pk, createdAt, plainText) VALUES "
                                 "(-5, 0, 'negative a'), (1, 1, 'first'), (4611686018427387904, 2, 'far away')"_s));
        }
        FetchedResultsModel model(store.view(), itemsNewestFirst());
        QVERIFY(model.performFetch());
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.at<ClipItem>(0)->plainText(), u"far away"_s);
        QCOMPARE(model.at<ClipItem>(1)->plainText(), u"first"_s);

        auto texts = [&] {
            QStringList listed;
            for (int row = 0; row < model.rowCount(); ++row)
                listed.append(model.at<ClipItem>(row)->plainText().value_or(QString()));
            return listed;
        };
        QVERIFY(model.setPredicate(searchFor(u"A"_s)));
        QCOMPARE(texts(), (QStringList{u"far away"_s, u"negative a"_s}));
        QVERIFY(model.setPredicate(searchFor(u"i"_s)));
        QCOMPARE(texts(), (QStringList{u"first"_s, u"negative a"_s}));
        QVERIFY(model.setPredicate(searchFor(u"away"_s)));
        QCOMPARE(texts(), QStringList{u"far away"_s});
    }

    // A date another program wrote as a real or a text orders the list as SQL orders it
    // (reals between the integers, texts after every number), also once changes arrive.
    void aDateWrittenAsARealOrATextKeepsTheListInOrder()
    {
        TestStore store;
        StoreContext *view = store.view();
        view->setAutomaticallyMergesChanges(true);
        for (qint64 at : {1000, 3000, 1500})
            insertText(view, u"at %1"_s.arg(at))->setCreatedAt(QDateTime::fromMSecsSinceEpoch(at, Qt::UTC));
        QVERIFY(view->save());
        LiveList list(view, itemsNewestFirst());
        QVERIFY(list.fetch());
        FetchedResultsModel &model = list.model;
        QSignalSpy remote(store.container.get(), &StoreContainer::remoteChange);
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw);
            QCOMPARE(registerFoldingFunctions((*raw)->handle()), SQLITE_OK);
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET createdAt = 2000.5 WHERE plainText = 'at 1000'"_s));
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET createdAt = 'not a date' WHERE plainText = 'at 1500'"_s));
        }
        QVERIFY(remote.wait(5000));
        QCOMPARE(listed(model), freshRun(view, itemsNewestFirst()));
        QCOMPARE(model.at<ClipItem>(0)->plainText(), u"at 1500"_s);
        FetchedResultsModel openedAfter(view, itemsNewestFirst());
        QVERIFY(openedAfter.performFetch());
        QCOMPARE(listed(openedAfter), freshRun(view, itemsNewestFirst()));

        // Equal to the real's integer part: SQL lists it after the real.
        auto background = store.container->newBackgroundContext();
        background->performAndWait([&] {
            insertText(background.get(), u"at 2000"_s)->setCreatedAt(QDateTime::fromMSecsSinceEpoch(2000, Qt::UTC));
            QVERIFY(background->save());
        });
        QTRY_COMPARE(model.rowCount(), 4);
        QCOMPARE(listed(model), freshRun(view, itemsNewestFirst()));
        QCOMPARE(model.at<ClipItem>(2)->plainText(), u"at 1000"_s);
        QCOMPARE(model.at<ClipItem>(3)->plainText(), u"at 2000"_s);
        QCOMPARE(listed(openedAfter), listed(model));
    }

    // A fetch with unsaved changes orders the changed rows in memory: dates another program
    // wrote as a real or a text, and a title written as bytes, must take the places SQL gives them.
    void unsavedChangesKeepOddValuesWhereSqlPutsThem()
    {
        TestStore store;
        StoreContext *view = store.view();
        for (qint64 at : {1000, 3000, 1500, 2000, 2500})
            insertText(view, u"at %1"_s.arg(at))->setCreatedAt(QDateTime::fromMSecsSinceEpoch(at, Qt::UTC));
        QVERIFY(view->save());
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw);
            QCOMPARE(registerFoldingFunctions((*raw)->handle()), SQLITE_OK);
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET createdAt = 2000.5, title = X'7A' WHERE plainText = 'at 1000'"_s));
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET createdAt = 'not a date', title = 'z' WHERE plainText = 'at 1500'"_s));
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET title = 'zz' WHERE plainText = 'at 2500'"_s));
        }
        view->refreshAll();
        FetchRequest byTitle = FetchRequest::of<ClipItem>();
        byTitle.setSortDescriptors({{u"title"_s, true}, {u"createdAt"_s, true}});
        const QList<FetchRequest> requests{itemsNewestFirst(), byTitle};
        QList<QList<ObjectId>> saved;
        for (const FetchRequest &request : requests)
            saved.append(freshRun(view, request));
        QCOMPARE(textsOf(*view->fetch<ClipItem>(itemsNewestFirst())),
                 (QStringList{u"at 1500"_s, u"at 3000"_s, u"at 2500"_s, u"at 1000"_s, u"at 2000"_s}));

        for (const auto &item : *view->fetch<ClipItem>(itemsNewestFirst()))
            item->setSourceAppName(u"edited"_s);
        for (qsizetype i = 0; i < requests.size(); ++i) {
            QList<ObjectId> withChanges;
            for (const auto &object : *view->fetch(requests[i]))
                withChanges.append(object->objectId());
            QCOMPARE(withChanges, saved[i]);
        }
        // Shown as dates all the same: the real by its integer part.
        const auto real = view->fetch<ClipItem>(itemsNewestFirst())->at(3);
        QCOMPARE(real->createdAt(), std::optional(QDateTime::fromMSecsSinceEpoch(2000, Qt::UTC)));
        QCOMPARE(real->title(), u"z"_s);
        FetchedResultsModel model(view, itemsNewestFirst());
        QVERIFY(model.performFetch());
        const QModelIndex row = model.index(3);
        QCOMPARE(model.data(row, model.roleNames().key("createdAt")), QVariant(QDateTime::fromMSecsSinceEpoch(2000, Qt::UTC)));
        QCOMPARE(model.data(row, model.roleNames().key("title")), QVariant(u"z"_s));
        QVERIFY(view->save());
        QCOMPARE(freshRun(view, itemsNewestFirst()), saved[0]);
    }

    // Unsaved objects have keys below zero too; a row whose key is below zero must still be
    // a saved row: found by its address, followed by the list, never confused with one of them.
    void aRowWithAKeyBelowZeroIsASavedRow()
    {
        TestStore store;
        StoreContext *view = store.view();
        view->setAutomaticallyMergesChanges(true);
        auto unsaved = insertText(view, u"not saved yet"_s);
        unsaved->setCreatedAt(QDateTime::fromMSecsSinceEpoch(10, Qt::UTC));
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw);
            QCOMPARE(registerFoldingFunctions((*raw)->handle()), SQLITE_OK);
            QVERIFY((*raw)->exec(u"INSERT INTO ClipItem (pk, createdAt, plainText) VALUES "
                                 "(-1, 1, 'below zero'), (-2, 2, 'further below')"_s));
        }
        QCOMPARE(textsOf(*view->fetch<ClipItem>(itemsNewestFirst())),
                 (QStringList{u"not saved yet"_s, u"further below"_s, u"below zero"_s}));
        FetchedResultsModel model(view, itemsNewestFirst());
        QVERIFY(model.performFetch());
        QCOMPARE(model.rowCount(), 2);
        auto below = model.at<ClipItem>(1);
        QCOMPARE(below->plainText(), u"below zero"_s);
        QVERIFY(!below->objectId().isTemporary());
        QCOMPARE(model.rowOf(below->objectId()), 1);

        const auto address = ObjectId::fromUriRepresentation(below->objectId().uriRepresentation());
        QVERIFY(address);
        QCOMPARE(*view->existingObject(*address), StoreObjectPtr(below));

        auto background = store.container->newBackgroundContext();
        background->performAndWait([&] {
            auto mirror = objectCast<ClipItem>(*background->existingObject(*address));
            mirror->setCreatedAt(QDateTime::fromMSecsSinceEpoch(20, Qt::UTC));
            QVERIFY(background->save());
        });
        QTRY_COMPARE(model.at<ClipItem>(0)->plainText(), u"below zero"_s);

        QVERIFY(view->save());
        QVERIFY(unsaved->objectId().primaryKey() > 0);
        QCOMPARE(below->plainText(), u"below zero"_s);
        QCOMPARE(listed(model), freshRun(view, itemsNewestFirst()));
    }
};

QTEST_GUILESS_MAIN(TestLiveResults)
#include "tst_liveresults.moc"
