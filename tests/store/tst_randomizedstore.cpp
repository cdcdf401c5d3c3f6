#include "StoreTestSupport.h"

#include "store/FetchedResultsModel.h"
#include "store/Schema.h"
#include "store/sql/SqlConnection.h"

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>

#include <atomic>

using namespace Qt::StringLiterals;

namespace {

QDateTime at(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(1700000000 + seconds, Qt::UTC);
}

const QStringList &texts()
{
    static const QStringList list{u"Résumé"_s, u"resume"_s, u"STRASSE"_s, u"Straße"_s, u"ΣΊΣΥΦΟΣ"_s,
                                  u"σίσυφος"_s, u"東京タワー"_s, u"東京"_s, u"café au lait"_s, u"CAFE"_s,
                                  u"naïve"_s, u"x"_s, u"Ünïcödé tea"_s, u"tea time"_s};
    return list;
}

const QStringList &searches()
{
    static const QStringList list{u"resume"_s, u"é"_s, u"ss"_s, u"ß"_s, u"σισ"_s, u"東京"_s, u"京"_s,
                                  u"cafe"_s, u"ai"_s, u"ΊΣ"_s, u"e"_s, u"TEA"_s, u"unicode"_s};
    return list;
}

// Runs the event loop until the condition holds: merges and polls arrive as events.
template<typename Condition>
bool processEventsUntil(Condition condition)
{
    QDeadlineTimer deadline(30000);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return condition();
}

Predicate searchAll(const QString &text)
{
    const auto cd = TextComparison::CaseDiacriticInsensitive;
    return Predicate::anyOf({Predicate::contains(u"plainText"_s, text, cd), Predicate::contains(u"fileName"_s, text, cd),
                             Predicate::contains(u"sourceAppName"_s, text, cd), Predicate::contains(u"title"_s, text, cd)});
}

} // namespace

// Random work of several contexts and of a second container on the same file, checked
// against the plainest answer: a fresh fetch, or each row tested in memory.
class TestRandomizedStore : public QObject
{
    Q_OBJECT

    QRandomGenerator m_random;

    int pick(int bound) { return int(m_random.bounded(bound)); }
    QString anyText() { return texts()[pick(int(texts().size()))]; }
    QString anySearch() { return searches()[pick(int(searches().size()))]; }

    std::optional<Predicate> anyPredicate()
    {
        const auto cd = TextComparison::CaseDiacriticInsensitive;
        switch (pick(7)) {
        case 0: return std::nullopt;
        case 1: return Predicate::contains(u"plainText"_s, anySearch(), cd);
        case 2: return searchAll(anySearch());
        case 3: return Predicate::equal(u"isPinned"_s, true) && Predicate::contains(u"plainText"_s, anySearch(), cd);
        case 4: return Predicate::beginsWith(u"plainText"_s, anySearch(), cd);
        case 5: return Predicate::beginsWith(u"plainText"_s, anyText().left(2));
        default: return Predicate::equal(u"isPinned"_s, false);
        }
    }

    // One to four random changes to the items of a context (not saved).
    void change(StoreContext *context)
    {
        auto all = *context->fetch<ClipItem>(FetchRequest::of<ClipItem>());
        const int operations = 1 + pick(4);
        for (int op = 0; op < operations; ++op) {
            if (all.isEmpty() || pick(5) == 0) {
                auto item = insertText(context, anyText());
                item->setCreatedAt(at(pick(40)));
                item->setPinned(pick(3) == 0);
                if (pick(3) == 0)
                    item->setTitle(anyText());
                all.append(item);
                continue;
            }
            const ClipItemPtr item = all[pick(int(all.size()))];
            if (item->isDeleted())
                continue;
            switch (pick(6)) {
            case 0: context->deleteObject(item); break;
            case 1: item->setCreatedAt(at(pick(40))); break;
            case 2: item->setPinned(!item->isPinned()); break;
            case 3: item->setTitle(pick(2) ? std::optional<QString>(anyText()) : std::nullopt); break;
            default: item->setPlainText(anyText());
            }
        }
    }

    FetchRequest anyRequest()
    {
        FetchRequest request = FetchRequest::of<ClipItem>();
        if (pick(2))
            request.setSortDescriptors({{u"createdAt"_s, false}});
        else
            request.setSortDescriptors({{u"isPinned"_s, false}, {u"createdAt"_s, true}});
        request.setPredicate(anyPredicate());
        return request;
    }

private Q_SLOTS:
    void randomWorkMatchesPlainAnswers_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u, 4u})
            QTest::addRow("seed %u", seed) << seed;
    }

    void randomWorkMatchesPlainAnswers()
    {
        QFETCH(quint32, seed);
        m_random.seed(seed);
        TwoProcessStores stores;
        StoreContainer &container = stores.container;
        // Odd seeds index new rows as soon as saving pauses at all, racing the next saves.
        container.storeDescription().searchIndexPauseMs = seed % 2 ? 0 : 400;
        QVERIFY(stores.load());
        const QString &path = stores.path;
        StoreContext *view = container.viewContext();
        StoreContext *remote = stores.other.viewContext();
        auto background = container.newBackgroundContext();
        auto checker = container.newBackgroundContext();

        FetchRequest listRequest = anyRequest();
        FetchedResultsModel model(view, listRequest);
        QVERIFY(model.performFetch());
        // The change counts after each save of the background context, and after each merge.
        std::atomic<qint64> savedUpTo = -1;
        connect(background.get(), &StoreContext::didSave, background.get(),
                [&](const SaveNotification &saved) { savedUpTo = saved.changes.changeCountAfter; }, Qt::DirectConnection);
        QSet<qint64> mergedUpTo;
        connect(view, &StoreContext::objectsDidChange, this,
                [&](const ObjectChanges &changes) { mergedUpTo.insert(changes.changeCountAfter); });
        QSignalSpy remoteChanges(&container, &StoreContainer::remoteChange);

        for (int step = 0; step < 250; ++step) {
            const int action = pick(9);
            if (action == 0) {
                // A save in the background, merged later.
                bool changed = false;
                background->performAndWait([&] {
                    change(background.get());
                    changed = background->hasChanges();
                    QVERIFY(background->save());
                });
                if (changed)
                    QVERIFY(processEventsUntil([&] { return mergedUpTo.contains(savedUpTo); }));
            } else if (action == 1) {
                // A save of the view context: what a fetch with the unsaved changes lists is
                // what the store lists once they are saved.
                change(view);
                const FetchRequest request = anyRequest();
                FetchRequest window = request;
                window.setFetchOffset(pick(3));
                window.setFetchLimit(pick(4));
                const QList<StoreObjectPtr> pending = *view->fetch(request);
                const QList<StoreObjectPtr> pendingWindow = *view->fetch(window);
                const qint64 pendingCount = *view->count(request);
                QVERIFY(view->save());
                auto idsOf = [](const QList<StoreObjectPtr> &objects) {
                    QList<ObjectId> ids;
                    for (const auto &object : objects)
                        ids.append(object->objectId());
                    return ids;
                };
                QCOMPARE(idsOf(pending), freshRun(view, request));
                QCOMPARE(idsOf(pendingWindow), freshRun(view, window));
                QCOMPARE(pendingCount, qint64(pending.size()));
            } else if (action == 2) {
                // Rolled back: a fetch with pending changes is a fetch of the store again.
                change(view);
                view->rollback();
                const FetchRequest request = anyRequest();
                QList<ObjectId> ids;
                for (const auto &object : *view->fetch(request))
                    ids.append(object->objectId());
                QCOMPARE(ids, freshRun(view, request));
            } else if (action == 3) {
                // Another process's save: a second container on the file, noticed by polling.
                const qsizetype noticed = remoteChanges.count();
                change(remote);
                const bool changed = remote->hasChanges();
                QVERIFY(remote->save());
                remote->refreshAll();
                if (changed)
                    QVERIFY(processEventsUntil([&] { return remoteChanges.count() > noticed; }));
            } else if (action == 4) {
                // Once every row is indexed, the index holds exactly the folded texts.
                QVERIFY(container.indexWaitingRows());
                auto raw = sql::Connection::open(path, {});
                QVERIFY(raw);
                QVERIFY(schema::configureConnection(**raw));
                const auto checked = (*raw)->exec(u"INSERT INTO %1(%1, rank) VALUES ('integrity-check', 1)"_s.arg(schema::searchTable));
                QVERIFY2(checked, qPrintable(checked ? QString() : checked.error().localizedDescription()));
                const auto grams = (*raw)->exec(u"INSERT INTO %1(%1) VALUES ('integrity-check')"_s.arg(schema::gramsTable));
                QVERIFY2(grams, qPrintable(grams ? QString() : grams.error().localizedDescription()));
            } else if (action == 5) {
                listRequest.setPredicate(anyPredicate());
                QVERIFY(model.setPredicate(listRequest.predicate()));
            } else if (action == 6) {
                // Searches, of indexed rows and rows waiting for the index, as memory tests them.
                const Predicate searched = anyPredicate().value_or(searchAll(anySearch()));
                checker->performAndWait([&] {
                    checker->reset();
                    FetchRequest request = FetchRequest::of<ClipItem>();
                    request.setSortDescriptors({{u"createdAt"_s, true}});
                    QList<ObjectId> expected;
                    for (const auto &item : *checker->fetch<ClipItem>(request)) {
                        if (searched.evaluate(*item))
                            expected.append(item->objectId());
                    }
                    request.setPredicate(searched);
                    QList<ObjectId> found;
                    for (const auto &item : *checker->fetch<ClipItem>(request))
                        found.append(item->objectId());
                    QCOMPARE(found, expected);
                });
            } else if (action == 7) {
                // Plain SQL of another program, which leaves no record.
                const qsizetype noticed = remoteChanges.count();
                auto raw = sql::Connection::open(path, {});
                QVERIFY(raw);
                QVERIFY(schema::configureConnection(**raw));
                QList<qint64> keys;
                auto rows = (*raw)->prepare(u"SELECT pk FROM ClipItem ORDER BY pk"_s);
                QVERIFY(rows);
                while (rows->next())
                    keys.append(rows->int64(0));
                if (keys.isEmpty())
                    continue;
                const qint64 key = keys[pick(int(keys.size()))];
                const QString sql = QList<QString>{
                    u"UPDATE ClipItem SET plainText = ?1 WHERE pk = ?2"_s,
                    u"UPDATE ClipItem SET createdAt = (SELECT max(createdAt) FROM ClipItem), isPinned = 1 - isPinned WHERE pk = ?2"_s,
                    u"DELETE FROM ClipItem WHERE pk = ?2"_s,
                    u"INSERT INTO ClipItem (createdAt, kind, plainText, isPinned) SELECT createdAt, 'text', ?1, 0 FROM ClipItem WHERE pk = ?2"_s,
                }[pick(4)];
                auto statement = (*raw)->prepare(sql);
                QVERIFY(statement);
                if (sql.contains(u"?1"_s))
                    statement->bindText(1, anyText());
                statement->bindInt64(2, key);
                QVERIFY(statement->exec());
                QVERIFY(processEventsUntil([&] { return remoteChanges.count() > noticed; }));
            } else if (pick(2)) {
                view->refreshAll();
            } else {
                // Unsaved changes dropped object by object.
                change(view);
                for (const auto &object : view->updatedObjects() + view->deletedObjects())
                    view->refresh(object);
                for (const auto &object : view->insertedObjects())
                    view->deleteObject(object);
                QVERIFY(!view->hasChanges());
            }
            QCoreApplication::processEvents();
            QCOMPARE(listed(model), freshRun(view, listRequest));
            // What the list shows of each row is what the store holds.
            QHash<ObjectId, QString> stored;
            checker->performAndWait([&] {
                checker->reset();
                for (const auto &item : *checker->fetch<ClipItem>(FetchRequest::of<ClipItem>()))
                    stored.insert(item->objectId(), item->plainText().value_or(QString()) + u'|'
                                  + QString::number(item->isPinned()) + u'|'
                                  + item->createdAt().value_or(QDateTime()).toString(Qt::ISODate));
            });
            for (int row = 0; row < model.rowCount(); ++row) {
                auto item = model.at<ClipItem>(row);
                QVERIFY(item);
                QCOMPARE(item->plainText().value_or(QString()) + u'|' + QString::number(item->isPinned()) + u'|'
                             + item->createdAt().value_or(QDateTime()).toString(Qt::ISODate),
                         stored.value(item->objectId()));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestRandomizedStore)
#include "tst_randomizedstore.moc"
