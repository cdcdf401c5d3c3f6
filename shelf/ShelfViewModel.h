#pragma once

#include "shelf/ShelfFilter.h"
#include "shelf/ShelfScrollRequest.h"
#include "shelf/ShelfSelection.h"
#include "store/ClipItem.h"
#include "store/ObjectId.h"

#include <QObject>
#include <QPointer>

#include <optional>

class FetchedResultsModel;
class QAbstractItemModel;
class ShelfItemsModel;
class ShelfState;
class StoreContext;

// The shelf's view state, which its QML root view binds to: the listed items, the search text,
// the filter, the selection, the card being renamed, the pending scroll request and the
// search field's focus. It lives as long as the panel, so the filter survives hiding; each
// presentation starts with an empty search and no selection. Main thread only.
class ShelfViewModel : public QObject
{
    Q_OBJECT
    // The listed items, newest first, kept current as the store changes. Besides the store's
    // roles, "highlighted" says whether a card is drawn as selected.
    Q_PROPERTY(QAbstractItemModel *items READ items CONSTANT)
    // The search field's text, as typed. Every change lists afresh and empties the selection.
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    // The filter bar's choice. Every change lists afresh and empties the selection.
    Q_PROPERTY(ShelfFilter filter READ filter WRITE setFilter NOTIFY filterChanged)
    // What the strip shows when nothing is listed; it depends on the filter alone.
    Q_PROPERTY(QString emptyTitle READ emptyTitle NOTIFY filterChanged)
    // The number of listed items.
    Q_PROPERTY(int itemCount READ itemCount NOTIFY itemCountChanged)
    // The number of cards commands act on: the listed selected cards, or the lead card alone.
    Q_PROPERTY(int selectedCount READ selectedCount NOTIFY selectionChanged)
    // The row of the card keyboard movement starts from and Return pastes; -1 when nothing is listed.
    Q_PROPERTY(int leadRow READ leadRow NOTIFY selectionChanged)
    // The row whose rename popover is open, -1 for none. The view sets it to open the popover
    // and back to -1 when the popover closes, which sends focus back to the search field.
    Q_PROPERTY(int renamingRow READ renamingRow WRITE setRenamingRow NOTIFY renamingChanged)
    // The row the strip should bring into view, -1 for none. Read it when scrollRequestChanged
    // is emitted: each emission is a new request, also for the same card.
    Q_PROPERTY(int scrollRequestRow READ scrollRequestRow NOTIFY scrollRequestChanged)
    // Whether the search field has keyboard focus, as the view reports it.
    Q_PROPERTY(bool searchFocused READ isSearchFocused WRITE setSearchFocused NOTIFY searchFocusedChanged)

public:
    using Selection = ShelfSelection<ObjectId>;
    using ScrollRequest = ShelfScrollRequest<ObjectId>;

    // Lists every item of the view context at once. The state's presented flag drives the
    // resets of each presentation.
    ShelfViewModel(ShelfState *state, StoreContext *viewContext, QObject *parent = nullptr);
    ~ShelfViewModel() override;

    QAbstractItemModel *items() const;
    int itemCount() const;
    // The item of a row, read afresh; null for a row out of range or an item another process
    // deleted before the list heard of it. Commands on a card take their item from here.
    ClipItemPtr itemAt(int row) const;

    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    ShelfFilter filter() const { return m_filter; }
    void setFilter(const ShelfFilter &filter);
    // A filter pill was picked: a fixed filter, or a label's with the label's identifier.
    Q_INVOKABLE void chooseFilter(ShelfFilter::Kind kind, const QString &labelID = QString());
    QString emptyTitle() const { return ::emptyTitle(m_filter); }

    const Selection &selection() const { return m_selection; }
    void setSelection(const Selection &selection);
    // A click on the card at `row`, with the keys held.
    Q_INVOKABLE void select(int row, Qt::KeyboardModifiers keys);
    void select(int row, SelectionModifier modifier);
    // Select All: with text in the search field the text is selected instead
    // (selectSearchTextRequested), otherwise every listed card.
    Q_INVOKABLE void selectAll();
    // Left (-1) or right (+1) arrow, extending with Shift. False when nothing is listed: the
    // key press is then not handled.
    Q_INVOKABLE bool moveSelection(int delta, bool extending);
    // An arrow key pressed in the search field: it moves the selection only while the field
    // is empty, and the text cursor otherwise. Returns whether the key press was handled.
    Q_INVOKABLE bool handleArrowKey(int delta, Qt::KeyboardModifiers keys);
    // The rows commands act on, in display order (see selectedCount).
    Q_INVOKABLE QList<int> selectedRows() const;
    // The rows a command on the card at `row` covers: the selection when it holds that card,
    // else that card alone.
    Q_INVOKABLE QList<int> targetRows(int row) const;
    int selectedCount() const;
    int leadRow() const;

    // The lead card's item (see itemAt); null when nothing is listed.
    ClipItemPtr leadItem() const;
    QList<ClipItemPtr> selectedItems() const;
    QList<ClipItemPtr> targets(const ClipItemPtr &item) const;
    // Before deleting `items`: selects the card that will follow them.
    void selectAfterDeleting(const QList<ClipItemPtr> &items);

    std::optional<ObjectId> renamingID() const { return m_renamingID; }
    void setRenamingID(const std::optional<ObjectId> &id);
    int renamingRow() const;
    void setRenamingRow(int row);

    std::optional<ScrollRequest> scrollRequest() const { return m_scrollRequest; }
    int scrollRequestRow() const;

    bool isSearchFocused() const { return m_searchFocused; }
    void setSearchFocused(bool focused);

Q_SIGNALS:
    void searchTextChanged();
    void filterChanged();
    void itemCountChanged();
    void selectionChanged();
    void renamingChanged();
    void scrollRequestChanged();
    void searchFocusedChanged();
    // The search field should take keyboard focus.
    void searchFocusRequested();
    // Select All reached the shelf while the search field holds text: select that text.
    void selectSearchTextRequested();

private:
    struct ListedIds;

    ListedIds listed() const;
    void applyQuery();
    void presentedChanged(bool presented);
    void requestSearchFocus();
    void listChanged();
    void selectionDidChange();
    void setScrollRequest(const std::optional<ScrollRequest> &request);
    QList<ClipItemPtr> itemsAt(const QList<qsizetype> &rows) const;
    const QList<qsizetype> &selectedIndexes() const;

    QPointer<ShelfState> m_state;
    StoreContext *m_context;
    FetchedResultsModel *m_items;
    ShelfItemsModel *m_shownItems;
    QString m_searchText;
    ShelfFilter m_filter;
    Selection m_selection;
    // The rows commands act on, worked out once per change of the selection or the list.
    mutable std::optional<QList<qsizetype>> m_selectedRows;
    std::optional<ObjectId> m_renamingID;
    std::optional<ScrollRequest> m_scrollRequest;
    bool m_searchFocused = false;
    // The last reading of the list failed; the next presentation reads it again.
    bool m_listFailed = false;
};
