#pragma once

#include "store/FetchRequest.h"
#include "store/KeySet.h"
#include "store/ObjectChanges.h"
#include "store/PredicateSql.h"
#include "store/StoreError.h"
#include "store/StoreObject.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

#include <optional>
#include <vector>

class StoreContext;
namespace sql {
class ReadSnapshot;
}

// Live results of a fetch request on the view context: a list model whose rows, in order
// and membership, always equal a fresh run of the request against the saved store. It
// follows the context's saves and merges (other contexts' saves, other processes'
// changes) with row insertions and removals, never a reset, and emits dataChanged for
// rows whose values changed in place.
//
// It keeps only each row's primary key and sort key in memory; an object is loaded when
// its row is read, a window of rows at a time, and binary values only when their role is
// asked for. Unsaved changes of the view context show once they are saved. A new text
// search narrows the rows it already holds, as long as the store is still as they show it.
//
// Roles: one per attribute, named after it ("plainText", "isPinned", ...; "id" as text),
// plus "objectId" (ObjectId) and "uri". Qt::DisplayRole gives plainText. Main thread only.
class FetchedResultsModel : public QAbstractListModel
{
    Q_OBJECT
    // The number of rows.
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role { ObjectIdRole = Qt::UserRole, UriRole, FirstAttributeRole = Qt::UserRole + 16 };

    // The context must be a main-queue context. Nothing is fetched before performFetch().
    FetchedResultsModel(StoreContext *context, FetchRequest request, QObject *parent = nullptr);
    ~FetchedResultsModel() override;

    const FetchRequest &fetchRequest() const { return m_request; }
    // Runs the request afresh; the model is reset. Limits, offsets and batch sizes of the
    // request are ignored: the results are always complete.
    StoreResult<void> performFetch();
    // A new predicate, keeping the sort order; runs the request afresh.
    StoreResult<void> setPredicate(std::optional<Predicate> predicate);

    int count() const { return int(m_current.rows.size()); }
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    ObjectId objectIdAt(int row) const;
    // The object of a row, loaded on demand; null for a row out of range or gone.
    StoreObjectPtr objectAt(int row) const;
    template<typename T>
    std::shared_ptr<T> at(int row) const { return objectCast<T>(objectAt(row)); }
    // The row of an object, or -1.
    int rowOf(const ObjectId &id) const;

Q_SIGNALS:
    void countChanged();

private:
    struct Row {
        qint64 key = 0;
        qint64 number = 0;      // the sort value when the order is one numeric attribute
        bool isNull = false;
    };

    struct Rows {
        std::vector<Row> rows;
        std::vector<QVariantList> general;
    };

    bool usesGeneralKeys() const { return m_generalKeys; }
    int compareRows(const Row &a, const QVariantList *generalA, const Row &b, const QVariantList *generalB) const;
    const QVariantList *generalAt(const Rows &rows, size_t index) const
    {
        return m_generalKeys ? &rows.general[index] : nullptr;
    }
    // A state of the store: the count of its changes, which every write raises.
    struct Snapshot {
        std::optional<Predicate> predicate;
        qint64 changeCount = 0;
    };
    // While searching, the rows of the search's other conditions: each new search text then
    // reads only the keys that it matches, and ending the search lists them again at once.
    struct Unsearched {
        Snapshot snapshot;
        Rows rows;
    };

    void forgetRowsRead(bool generalKeys);
    StoreResult<Rows> fetchRows();
    // Opens the snapshot and reads the store's change count in it.
    StoreResult<qint64> beginReading(sql::ReadSnapshot &snapshot) const;
    StoreResult<Rows> queryRows(const std::optional<Predicate> &predicate, const QList<qint64> *onlyKeys) const;
    StoreResult<std::vector<qint64>> queryKeys(const CompiledPredicate &query) const;
    Rows rowsWithKeys(const Rows &from, const KeySet &keys) const;
    void contextChanged(const ObjectChanges &changes);
    void followChanges(const ObjectChanges &changes);
    bool applyIncrementally(const QList<qint64> &inserted, const QList<qint64> &updated, const QList<qint64> &deleted,
                            bool readAfterChangeBegan);
    void applyFullDiff();
    qsizetype lowerBound(const Row &row, const QVariantList *general) const;
    std::vector<qsizetype> findKeys(const QList<qint64> &keys) const;
    void insertSorted(const Row &row, const QVariantList *general);
    void removeAt(qsizetype position);
    qsizetype positionOf(qint64 key) const;
    void forgetCached(qint64 key) const;

    StoreContext *m_context;
    FetchRequest m_request;
    int m_entity = -1;
    // The rows in order; `general` holds the sort values of each row when the order is not
    // a single numeric attribute.
    Rows m_current;
    // How m_current was read, until a change is applied to it.
    std::optional<Snapshot> m_currentSnapshot;
    // Whether m_current is a whole run of the request; changes only follow one.
    bool m_fetched = false;
    // A change could not be read into m_current: the next one reads the whole list again.
    bool m_missedChange = false;
    std::optional<Unsearched> m_unsearched;
    QList<bool> m_ascending;
    QList<int> m_sortAttributes;
    bool m_generalKeys = false;
    // A single numeric sort attribute holding a real or a text (another program's write)
    // cannot be ordered by its integer: such a list keeps every row's sort values instead.
    mutable bool m_sortValueNotInteger = false;

    mutable QHash<qint64, StoreObjectPtr> m_cache;
    mutable QList<qint64> m_cacheOrder;
};
