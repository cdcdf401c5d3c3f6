#include "shelf/LabelOperations.h"
#include "shelf/ShelfFetchRequest.h"
#include "shelf/ShelfItemsModel.h"
#include "shelf/ShelfState.h"
#include "shelf/ShelfViewModel.h"
#include "tests/shelf/ShelfTestSupport.h"

#include <QAbstractItemModelTester>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <atomic>

using namespace Qt::StringLiterals;
using Kind = ShelfFilter::Kind;
using Selection = ShelfViewModel::Selection;

namespace {

QDateTime at(qint64 minutes)
{
    return QDateTime::fromSecsSinceEpoch(1700000000 + 60 * minutes, Qt::UTC);
}

const QStringList &texts()
{
    static const QStringList list{u"Café au lait"_s, u"CAFE"_s, u"https://Example.org"_s, u"HTTP://x.y"_s,
                                  u" http://not.a.link"_s, u"naïve résumé"_s, u"plain words"_s, u"x"_s,
                                  u"100% \"sure\" a_b [c]* it's NEAR(x) -y OR z"_s, u"De\u0301ja\u0300 vu"_s};
    return list;
}

const QStringList &searches()
{
    static const QStringList list{QString(), QString(), u"cafe"_s, u"CAFÉ"_s, u"e"_s, u" "_s, u"http"_s,
                                  u"resume"_s, u"shot"_s, u"zzz"_s, u"%"_s, u"_"_s, u"\""_s,
                                  u"*"_s, u"[c]"_s, u"'s"_s, u"NEAR("_s, u"OR"_s, u"-y"_s, u"a_b"_s, u"\\"_s, u"%\""_s,
                                  u"caf\u00e9"_s, u"CAFE\u0301"_s, u"d\u00e9j\u00e0"_s, u"DE\u0301JA"_s};
    return list;
}

// Case and accents dropped, as a [cd] search compares.
QString folded(const QString &text)
{
    QString result;
    for (const QChar c : text.normalized(QString::NormalizationForm_D)) {
        if (c.category() != QChar::Mark_NonSpacing)
            result.append(c);
    }
    return result.toCaseFolded();
}

// Runs the event loop until the condition holds: merges and polls arrive as events.
template<typename Condition>
bool processEventsUntil(Condition condition)
{
    QDeadlineTimer deadline(30000);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return condition();
}

QList<ObjectId> idsOf(const QList<ClipItemPtr> &items)
{
    QList<ObjectId> ids;
    for (const auto &item : items)
        ids.append(item->objectId());
    return ids;
}

// What a view bound to the shelf shows: each row's highlight and pin, and the view model's
// figures, updated only when a signal says they changed.
struct BoundView {
    QList<QPair<bool, bool>> rows;
    int itemCount = 0;
    int selectedCount = 0;
    int leadRow = -1;
    int renamingRow = -1;
    QString emptyTitle;

    static QList<QPair<bool, bool>> read(const QAbstractItemModel *items, int first, int last)
    {
        const int pinned = items->roleNames().key(QByteArrayLiteral("isPinned"));
        QList<QPair<bool, bool>> values;
        for (int row = first; row <= last; ++row) {
            const QModelIndex index = items->index(row, 0);
            values.append({index.data(ShelfItemsModel::HighlightedRole).toBool(), index.data(pinned).toBool()});
        }
        return values;
    }

    static QList<QPair<bool, bool>> readAll(const QAbstractItemModel *items)
    {
        return read(items, 0, items->rowCount() - 1);
    }

    void bind(ShelfViewModel *model, QObject *owner)
    {
        const QAbstractItemModel *items = model->items();
        rows = readAll(items);
        const auto figures = [this, model] {
            selectedCount = model->selectedCount();
            leadRow = model->leadRow();
        };
        figures();
        itemCount = model->itemCount();
        renamingRow = model->renamingRow();
        emptyTitle = model->emptyTitle();
        QObject::connect(items, &QAbstractItemModel::rowsInserted, owner, [this, items](const QModelIndex &, int first, int last) {
            const auto values = read(items, first, last);
            for (int i = 0; i < values.size(); ++i)
                rows.insert(first + i, values[i]);
        });
        QObject::connect(items, &QAbstractItemModel::rowsRemoved, owner,
                         [this](const QModelIndex &, int first, int last) { rows.remove(first, last - first + 1); });
        QObject::connect(items, &QAbstractItemModel::rowsMoved, owner,
                         [this](const QModelIndex &, int first, int last, const QModelIndex &, int to) {
                             const auto moved = rows.mid(first, last - first + 1);
                             rows.remove(first, moved.size());
                             const int at = to > first ? to - int(moved.size()) : to;
                             for (int i = 0; i < moved.size(); ++i)
                                 rows.insert(at + i, moved[i]);
                         });
        QObject::connect(items, &QAbstractItemModel::modelReset, owner, [this, items] { rows = readAll(items); });
        QObject::connect(items, &QAbstractItemModel::layoutChanged, owner, [this, items] { rows = readAll(items); });
        QObject::connect(items, &QAbstractItemModel::dataChanged, owner,
                         [this, items](const QModelIndex &from, const QModelIndex &to) {
                             const auto values = read(items, from.row(), to.row());
                             for (int i = 0; i < values.size(); ++i)
                                 rows[from.row() + i] = values[i];
                         });
        QObject::connect(model, &ShelfViewModel::selectionChanged, owner, figures);
        QObject::connect(model, &ShelfViewModel::itemCountChanged, owner, [this, model] { itemCount = model->itemCount(); });
        QObject::connect(model, &ShelfViewModel::renamingChanged, owner, [this, model] { renamingRow = model->renamingRow(); });
        QObject::connect(model, &ShelfViewModel::filterChanged, owner, [this, model] { emptyTitle = model->emptyTitle(); });
    }

    void compare(const ShelfViewModel &model) const
    {
        QCOMPARE(rows, readAll(model.items()));
        QCOMPARE(itemCount, model.itemCount());
        QCOMPARE(selectedCount, model.selectedCount());
        QCOMPARE(leadRow, model.leadRow());
        QCOMPARE(renamingRow, model.renamingRow());
        QCOMPARE(emptyTitle, model.emptyTitle());
    }
};

} // namespace

// Random gestures on the shelf while captures, deletions and pins arrive from other contexts
// and another process, checked after each step against a selection kept by identity over a
// fresh fetch, and against each item tested in memory.
class TestShelfRandomWork : public QObject
{
    Q_OBJECT

    QRandomGenerator m_random;

    int pick(int count) { return int(m_random.bounded(count)); }

private Q_SLOTS:
    void randomWorkKeepsSelectionAndListRight_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u})
            QTest::addRow("seed %u", seed) << seed;
    }

    void randomWorkKeepsSelectionAndListRight()
    {
        QFETCH(quint32, seed);
        m_random.seed(seed);
        TwoProcessStores stores;
        QVERIFY(stores.load());
        StoreContainer &container = stores.container;
        StoreContext *view = container.viewContext();
        StoreContext *remote = stores.other.viewContext();
        auto capture = container.newBackgroundContext();

        qint64 clock = 0;
        int serial = 0;
        const auto addRandomItem = [&](StoreContext *context, qint64 minute) {
            Card card{QString::number(++serial), ClipKind::Text};
            switch (pick(4)) {
            case 0:
                card.kind = ClipKind::Image;
                card.source = u"Screenshot"_s;
                break;
            case 1:
                card.kind = ClipKind::File;
                card.text = u"/home/u/Rapport café.pdf"_s;
                card.fileName = u"Rapport café.pdf"_s;
                break;
            default: card.text = texts()[pick(int(texts().size()))];
            }
            if (pick(5) == 0)
                card.title = u"Résumé du jour"_s;
            card.pinned = pick(4) == 0;
            addCard(context, card, at(minute));
        };
        for (int i = 0; i < 16; ++i)
            addRandomItem(view, ++clock);
        QVERIFY(view->save());
        QList<ClipLabelPtr> labels;
        for (const QString &name : {u"Work"_s, u"Home"_s})
            labels.append(createLabel(name, int(labels.size()), *view));
        QVERIFY(labels[0] && labels[1]);
        const auto labelKey = [](const ClipLabelPtr &label) { return uuidString(*label->id()); };

        ShelfState state;
        ShelfViewModel model(&state, view);
        QAbstractItemModelTester tester(model.items(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        Selection expected;
        BoundView bound;
        QObject bindings; // goes before the view it updates
        bound.bind(&model, &bindings);
        std::optional<ObjectId> renaming;

        const auto request = [&] { return makeFetchRequest(model.searchText(), model.filter()); };
        const auto order = [&] { return freshRun(view, request()); };
        // Every item tested in memory against the filter and the search.
        const auto plainAnswer = [&] {
            QList<ObjectId> ids;
            const auto all = view->fetch<ClipItem>(itemsNewestFirst());
            for (const ClipItemPtr &item : *all) {
                const QString text = item->plainText().value_or(QString());
                bool admitted = true;
                switch (model.filter().kind()) {
                case Kind::All: break;
                case Kind::Pinned: admitted = item->isPinned(); break;
                case Kind::Texts: admitted = item->kind() == ClipKind::Text; break;
                case Kind::Links:
                    admitted = item->kind() == ClipKind::Text
                            && (text.startsWith(u"http://"_s, Qt::CaseInsensitive)
                                || text.startsWith(u"https://"_s, Qt::CaseInsensitive));
                    break;
                case Kind::Images: admitted = item->kind() == ClipKind::Image; break;
                case Kind::Files: admitted = item->kind() == ClipKind::File; break;
                case Kind::Label: admitted = item->labelID() == model.filter().labelID(); break;
                }
                const QString search = folded(model.searchText());
                if (!search.isEmpty()) {
                    bool found = false;
                    for (const auto &field : {item->plainText(), item->fileName(), item->sourceAppName(), item->title()})
                        found = found || folded(field.value_or(QString())).contains(search);
                    admitted = admitted && found;
                }
                if (admitted)
                    ids.append(item->objectId());
            }
            return ids;
        };
        const auto check = [&](int step) {
            const QList<ObjectId> ids = order();
            const FetchedResultsModel &live = *static_cast<ShelfItemsModel *>(model.items())->items();
            QVERIFY2(processEventsUntil([&] { return listed(live) == ids; }),
                     qPrintable(u"step %1: the list is not a fresh fetch"_s.arg(step)));
            QCOMPARE(ids, plainAnswer());
            QCOMPARE(model.itemCount(), ids.size());
            QCOMPARE(model.selection(), expected);
            QList<int> rows;
            for (qsizetype row : expected.selectedIndexes(ids))
                rows.append(int(row));
            QCOMPARE(model.selectedRows(), rows);
            QCOMPARE(model.selectedCount(), rows.size());
            QCOMPARE(highlightedRows(model), rows);
            QCOMPARE(model.leadRow(), int(expected.leadIndex(ids).value_or(-1)));
            QCOMPARE(model.renamingRow(), renaming ? int(ids.indexOf(*renaming)) : -1);
            bound.compare(model);
            if (QTest::currentTestFailed())
                return;
            QList<ObjectId> selectedIds;
            for (int row : rows)
                selectedIds.append(ids[row]);
            QCOMPARE(idsOf(model.selectedItems()), selectedIds);
            const ClipItemPtr lead = model.leadItem();
            QCOMPARE(lead ? lead->objectId() : ObjectId(), ids.isEmpty() ? ObjectId() : ids[model.leadRow()]);
            if (!ids.isEmpty()) {
                const int row = pick(int(ids.size()));
                QList<int> targetRows = rows.contains(row) ? rows : QList<int>{row};
                QCOMPARE(model.targetRows(row), targetRows);
                QList<ObjectId> targetIds;
                for (int target : targetRows)
                    targetIds.append(ids[target]);
                QCOMPARE(idsOf(model.targets(model.itemAt(row))), targetIds);
            }
        };

        // A random saved item of a context, or none.
        const auto anyItem = [&](StoreContext *context) -> ClipItemPtr {
            const auto all = context->fetch<ClipItem>(itemsNewestFirst());
            if (!all || all->isEmpty())
                return nullptr;
            return all->at(pick(int(all->size())));
        };
        // Until the view has taken in the other process's save.
        QSignalSpy remoteChanges(&container, &StoreContainer::remoteChange);
        // The change count after each save of the capture context, and after each merge.
        std::atomic<qint64> savedUpTo = -1;
        connect(capture.get(), &StoreContext::didSave, capture.get(),
                [&](const SaveNotification &saved) { savedUpTo = saved.changes.changeCountAfter; }, Qt::DirectConnection);
        QSet<qint64> mergedUpTo;
        connect(view, &StoreContext::objectsDidChange, this,
                [&](const ObjectChanges &changes) { mergedUpTo.insert(changes.changeCountAfter); });
        const auto captureSaved = [&] {
            const bool changed = capture->performAndWait([&] {
                const bool changes = capture->hasChanges();
                return changes && capture->save().ok();
            });
            if (changed)
                QVERIFY(processEventsUntil([&] { return mergedUpTo.contains(savedUpTo); }));
        };

        for (int step = 0; step < 160; ++step) {
            const QList<ObjectId> ids = order();
            const int op = pick(17);
            switch (op) {
            case 0: // a capture: the newest item, or an older one as an import brings
                capture->performAndWait([&] { addRandomItem(capture.get(), pick(3) ? ++clock : pick(int(clock))); });
                captureSaved();
                break;
            case 1: // a deletion elsewhere, as a trim or a duplicate collapse does
                capture->performAndWait([&] {
                    if (const auto item = anyItem(capture.get()))
                        capture->deleteObject(item);
                });
                captureSaved();
                break;
            case 2: // a pin, a label or a date changed elsewhere
                capture->performAndWait([&] {
                    if (const auto item = anyItem(capture.get())) {
                        if (pick(4) == 0) // moved to the front, or back among older ones
                            item->setCreatedAt(at(pick(2) ? ++clock : pick(int(clock))));
                        else if (pick(2))
                            item->setPinned(!item->isPinned());
                        else
                            item->setLabelID(pick(2) ? std::optional<QString>(labelKey(labels[pick(2)])) : std::nullopt);
                    }
                });
                captureSaved();
                break;
            case 3: { // another process deletes (often the lead card) or adds
                const qsizetype noticed = remoteChanges.count();
                remote->refreshAll();
                ClipItemPtr item = anyItem(remote);
                if (model.leadRow() >= 0 && pick(2)) {
                    const auto lead = remote->existingObject(ids[model.leadRow()]);
                    item = lead ? objectCast<ClipItem>(*lead) : nullptr;
                }
                if (item && pick(3))
                    remote->deleteObject(item);
                else
                    addRandomItem(remote, ++clock);
                QVERIFY(remote->save());
                // Before the shelf has heard of it, no command gets an item that is gone.
                const QList<ObjectId> stored = freshRun(view, itemsNewestFirst());
                QList<ClipItemPtr> handedOut = model.selectedItems();
                handedOut << model.leadItem() << model.itemAt(pick(qMax(1, model.itemCount())));
                for (const ClipItemPtr &item : std::as_const(handedOut))
                    QVERIFY(!item || stored.contains(item->objectId()));
                QVERIFY(processEventsUntil([&] { return remoteChanges.count() > noticed; }));
                break;
            }
            case 4: { // delete from the shelf
                const QList<ClipItemPtr> doomed = model.selectedItems();
                QSet<ObjectId> doomedIds;
                for (const auto &item : doomed)
                    doomedIds.insert(item->objectId());
                expected = Selection::afterDeletion(doomedIds, ids);
                model.selectAfterDeleting(doomed);
                for (const auto &item : doomed)
                    view->deleteObject(item);
                QVERIFY(view->save());
                break;
            }
            case 5: { // pin from the shelf
                const QList<ClipItemPtr> items = model.selectedItems();
                const bool pin = !std::all_of(items.cbegin(), items.cend(), [](const auto &item) { return item->isPinned(); });
                for (const auto &item : items)
                    item->setPinned(pin);
                QVERIFY(view->save());
                break;
            }
            case 6: { // file the selection under a label
                const auto label = labels[pick(2)];
                for (const auto &item : model.selectedItems())
                    item->setLabelID(labelKey(label));
                QVERIFY(view->save());
                break;
            }
            case 7: { // a label deleted, and made again
                const int which = pick(2);
                QVERIFY(deleteLabel(labels[which], *view));
                labels[which] = createLabel(u"Again"_s, which, *view);
                QVERIFY(labels[which]);
                break;
            }
            case 8: {
                const QString text = searches()[pick(int(searches().size()))];
                if (text != model.searchText())
                    expected = {};
                model.setSearchText(text);
                break;
            }
            case 9: {
                const int kind = pick(7);
                const ShelfFilter filter = kind == 6 ? ShelfFilter::label(labelKey(labels[pick(2)]))
                                                     : ShelfFilter(static_cast<Kind>(kind));
                if (filter != model.filter())
                    expected = {};
                model.setFilter(filter);
                break;
            }
            case 10:
            case 11:
            case 12: { // a click
                if (ids.isEmpty())
                    break;
                const int row = pick(int(ids.size()));
                const Qt::KeyboardModifiers keys[] = {Qt::NoModifier, Qt::ControlModifier, Qt::ShiftModifier,
                                                      Qt::ShiftModifier | Qt::ControlModifier};
                const auto held = keys[pick(4)];
                expected.select(ids[row], selectionModifier(held), ids);
                model.select(row, held);
                break;
            }
            case 13: { // an arrow key
                const int delta = pick(2) ? 1 : -1;
                const bool shift = pick(2);
                const bool handled = model.handleArrowKey(delta, shift ? Qt::ShiftModifier : Qt::NoModifier);
                QCOMPARE(handled, model.searchText().isEmpty() && !ids.isEmpty());
                if (handled)
                    expected.moveSelection(delta, shift, ids);
                break;
            }
            case 14:
                if (model.searchText().isEmpty() && !ids.isEmpty())
                    expected.selectAll(ids);
                model.selectAll();
                break;
            case 15: // the shelf hidden and shown again
                state.setPresented(false);
                state.setPresented(true);
                expected = {};
                renaming.reset();
                break;
            case 16: { // the rename popover opened on a card, or closed
                const int row = ids.isEmpty() || pick(3) == 0 ? -1 : pick(int(ids.size()));
                model.setRenamingRow(row);
                renaming = row >= 0 ? std::optional<ObjectId>(ids[row]) : std::nullopt;
                break;
            }
            }
            check(step);
            if (QTest::currentTestFailed())
                return;
        }
    }
};

QTEST_GUILESS_MAIN(TestShelfRandomWork)
#include "tst_shelfrandomwork.moc"
