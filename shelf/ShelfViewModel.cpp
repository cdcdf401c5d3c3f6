#include "shelf/ShelfViewModel.h"

#include "platform/log/Log.h"
#include "shelf/ShelfFetchRequest.h"
#include "shelf/ShelfItemsModel.h"
#include "shelf/ShelfState.h"
#include "store/FetchedResultsModel.h"
#include "store/StoreContext.h"

#include <QTimer>

namespace {

// The search field can only take focus once the panel is on screen.
constexpr int searchFocusDelayMs = 100;
constexpr int focusCheckDelayMs = 400;

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

// The listed items' identifiers in display order, as the selection reads them.
struct ShelfViewModel::ListedIds {
    const FetchedResultsModel *items;

    qsizetype size() const { return items->count(); }
    ObjectId operator[](qsizetype row) const { return items->objectIdAt(int(row)); }
};

ShelfViewModel::ShelfViewModel(ShelfState *state, StoreContext *viewContext, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_context(viewContext)
    , m_items(new FetchedResultsModel(viewContext, makeFetchRequest(QString(), ShelfFilter()), this))
    , m_shownItems(new ShelfItemsModel(m_items, this))
{
    if (auto fetched = m_items->performFetch(); !fetched) {
        m_listFailed = true;
        klog::error(klog::Category::Shelf,
                    QStringLiteral("shelf list failed: %1").arg(fetched.error().localizedDescription()));
    }

    connect(m_items, &FetchedResultsModel::countChanged, this, &ShelfViewModel::itemCountChanged);
    connect(m_items, &QAbstractItemModel::rowsInserted, this, &ShelfViewModel::listChanged);
    connect(m_items, &QAbstractItemModel::rowsRemoved, this, &ShelfViewModel::listChanged);
    connect(m_items, &QAbstractItemModel::rowsMoved, this, &ShelfViewModel::listChanged);
    connect(m_items, &QAbstractItemModel::layoutChanged, this, &ShelfViewModel::listChanged);
    connect(m_items, &QAbstractItemModel::modelReset, this, &ShelfViewModel::listChanged);
    if (state)
        connect(state, &ShelfState::presentedChanged, this, &ShelfViewModel::presentedChanged);
    selectionDidChange();
}

ShelfViewModel::~ShelfViewModel() = default;

QAbstractItemModel *ShelfViewModel::items() const
{
    return m_shownItems;
}

int ShelfViewModel::itemCount() const
{
    return m_items->count();
}

// Read afresh, not from the list's loaded rows: another process may have deleted the item
// before the list heard of it, and a command must not act on it.
ClipItemPtr ShelfViewModel::itemAt(int row) const
{
    if (row < 0 || row >= itemCount())
        return nullptr;
    return itemsAt({row}).value(0);
}

ShelfViewModel::ListedIds ShelfViewModel::listed() const
{
    return {m_items};
}

void ShelfViewModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    applyQuery();
    Q_EMIT searchTextChanged();
}

void ShelfViewModel::setFilter(const ShelfFilter &filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    applyQuery();
    Q_EMIT filterChanged();
}

void ShelfViewModel::chooseFilter(ShelfFilter::Kind kind, const QString &labelID)
{
    setFilter(ShelfFilter(kind, labelID));
}

// Only the predicate changes; the order stays. The selection is emptied even when the same
// items stay listed.
void ShelfViewModel::applyQuery()
{
    m_selection = {};
    const auto applied = m_items->setPredicate(makeFetchRequest(m_searchText, m_filter).predicate());
    m_listFailed = !applied;
    if (!applied)
        klog::error(klog::Category::Shelf,
                    QStringLiteral("shelf list failed: %1").arg(applied.error().localizedDescription()));
    selectionDidChange();
}

void ShelfViewModel::setSelection(const Selection &selection)
{
    if (selection == m_selection)
        return;
    m_selection = selection;
    selectionDidChange();
}

void ShelfViewModel::select(int row, Qt::KeyboardModifiers keys)
{
    select(row, selectionModifier(keys));
}

void ShelfViewModel::select(int row, SelectionModifier modifier)
{
    if (row < 0 || row >= itemCount())
        return;
    Selection next = m_selection;
    next.select(m_items->objectIdAt(row), modifier, listed());
    setSelection(next);
}

void ShelfViewModel::selectAll()
{
    if (!m_searchText.isEmpty()) {
        Q_EMIT selectSearchTextRequested();
        return;
    }
    const int count = itemCount();
    if (count == 0)
        return;
    Selection next = m_selection;
    next.selectAll(listed());
    setSelection(next);
    klog::notice(klog::Category::Shelf, QStringLiteral("select all: %1 items").arg(count));
}

bool ShelfViewModel::moveSelection(int delta, bool extending)
{
    Selection next = m_selection;
    const auto target = next.moveSelection(delta, extending, listed());
    if (!target)
        return false;
    setSelection(next);
    setScrollRequest(ScrollRequest::following(m_scrollRequest, m_items->objectIdAt(int(*target))));
    klog::notice(klog::Category::Shelf,
                 QStringLiteral("arrow key: lead -> index %1, %2 selected").arg(*target).arg(m_selection.ids.size()));
    return true;
}

bool ShelfViewModel::handleArrowKey(int delta, Qt::KeyboardModifiers keys)
{
    if (!m_searchText.isEmpty())
        return false;
    return moveSelection(delta, keys.testFlag(Qt::ShiftModifier));
}

QList<int> ShelfViewModel::selectedRows() const
{
    QList<int> rows;
    rows.reserve(selectedIndexes().size());
    for (qsizetype row : selectedIndexes())
        rows.append(int(row));
    return rows;
}

QList<int> ShelfViewModel::targetRows(int row) const
{
    if (row < 0 || row >= itemCount())
        return {};
    QList<int> rows;
    for (qsizetype target : Selection::targetIndexes(selectedIndexes(), row))
        rows.append(int(target));
    return rows;
}

int ShelfViewModel::selectedCount() const
{
    return int(selectedIndexes().size());
}

int ShelfViewModel::leadRow() const
{
    return int(m_selection.leadIndex(listed()).value_or(-1));
}

ClipItemPtr ShelfViewModel::leadItem() const
{
    return itemAt(leadRow());
}

QList<ClipItemPtr> ShelfViewModel::selectedItems() const
{
    return itemsAt(selectedIndexes());
}

QList<ClipItemPtr> ShelfViewModel::targets(const ClipItemPtr &item) const
{
    if (!item)
        return {};
    const int row = m_items->rowOf(item->objectId());
    if (row < 0)
        return {item};
    return itemsAt(Selection::targetIndexes(selectedIndexes(), row));
}

void ShelfViewModel::selectAfterDeleting(const QList<ClipItemPtr> &items)
{
    QSet<ObjectId> deleted;
    for (const auto &item : items) {
        if (item)
            deleted.insert(item->objectId());
    }
    setSelection(Selection::afterDeletion(deleted, listed()));
}

// Loaded with one query: commands may act on every listed item.
QList<ClipItemPtr> ShelfViewModel::itemsAt(const QList<qsizetype> &rows) const
{
    QList<ObjectId> ids;
    ids.reserve(rows.size());
    for (qsizetype row : rows)
        ids.append(m_items->objectIdAt(int(row)));
    const auto objects = m_context->existingObjects(ids);
    if (!objects) {
        klog::error(klog::Category::Shelf,
                    QStringLiteral("shelf items could not be read: %1").arg(objects.error().localizedDescription()));
        return {};
    }
    QList<ClipItemPtr> items;
    items.reserve(objects->size());
    for (const StoreObjectPtr &object : *objects) {
        if (auto item = objectCast<ClipItem>(object))
            items.append(std::move(item));
    }
    return items;
}

void ShelfViewModel::setRenamingID(const std::optional<ObjectId> &id)
{
    if (id == m_renamingID)
        return;
    m_renamingID = id;
    Q_EMIT renamingChanged();
    // Focus goes back to the search field once the rename popover has closed.
    if (!id && m_state && m_state->isPresented())
        QTimer::singleShot(0, this, &ShelfViewModel::requestSearchFocus);
}

int ShelfViewModel::renamingRow() const
{
    return m_renamingID ? m_items->rowOf(*m_renamingID) : -1;
}

void ShelfViewModel::setRenamingRow(int row)
{
    if (row >= 0 && row < itemCount())
        setRenamingID(m_items->objectIdAt(row));
    else
        setRenamingID(std::nullopt);
}

int ShelfViewModel::scrollRequestRow() const
{
    return m_scrollRequest ? m_items->rowOf(m_scrollRequest->id) : -1;
}

void ShelfViewModel::setScrollRequest(const std::optional<ScrollRequest> &request)
{
    if (request == m_scrollRequest)
        return;
    m_scrollRequest = request;
    Q_EMIT scrollRequestChanged();
}

void ShelfViewModel::setSearchFocused(bool focused)
{
    if (focused == m_searchFocused)
        return;
    m_searchFocused = focused;
    Q_EMIT searchFocusedChanged();
}

void ShelfViewModel::requestSearchFocus()
{
    Q_EMIT searchFocusRequested();
}

// Each presentation starts with an empty search and no selection; the filter stays.
void ShelfViewModel::presentedChanged(bool presented)
{
    setRenamingID(std::nullopt);
    if (!presented)
        return;
    setSearchText(QString());
    // A list that could not be read neither lists nor follows the store: read it again.
    if (m_listFailed)
        applyQuery();
    setSelection({});
    setScrollRequest(std::nullopt);
    QTimer::singleShot(searchFocusDelayMs, this, &ShelfViewModel::requestSearchFocus);
    QTimer::singleShot(focusCheckDelayMs, this, [this] {
        klog::notice(klog::Category::Shelf,
                     QStringLiteral("focus check (searchFocused: %1)").arg(boolText(m_searchFocused)));
    });
}

// Rows came, went or moved: which card stands in for an empty selection, and the rows of the
// card being renamed, may have changed with them.
void ShelfViewModel::listChanged()
{
    selectionDidChange();
    if (m_renamingID)
        Q_EMIT renamingChanged();
}

void ShelfViewModel::selectionDidChange()
{
    m_selectedRows.reset();
    const QList<qsizetype> &rows = selectedIndexes();
    const ListedIds ids = listed();
    // Ids of unlisted cards have no row, so the selection's own set serves as long as one of
    // its cards is listed; otherwise the lead card stands in.
    if (!rows.isEmpty() && !m_selection.ids.contains(ids[rows.first()]))
        m_shownItems->setHighlighted({ids[rows.first()]});
    else
        m_shownItems->setHighlighted(m_selection.ids);
    Q_EMIT selectionChanged();
}

const QList<qsizetype> &ShelfViewModel::selectedIndexes() const
{
    if (!m_selectedRows)
        m_selectedRows = m_selection.selectedIndexes(listed());
    return *m_selectedRows;
}
