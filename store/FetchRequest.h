#pragma once

#include "store/Predicate.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct SortDescriptor {
    QString key;
    bool ascending = true;
};

// What to fetch: one entity, an optional predicate, an order, and how many. Rows with
// equal sort keys come in primary-key order (in the direction of the last sort key), so
// the order of a request is always fully determined.
class FetchRequest
{
public:
    explicit FetchRequest(QString entityName) : m_entityName(std::move(entityName)) { }
    template<typename T>
    static FetchRequest of() { return FetchRequest(T::entityName()); }

    const QString &entityName() const { return m_entityName; }

    const std::optional<Predicate> &predicate() const { return m_predicate; }
    void setPredicate(std::optional<Predicate> predicate) { m_predicate = std::move(predicate); }

    const QList<SortDescriptor> &sortDescriptors() const { return m_sort; }
    void setSortDescriptors(QList<SortDescriptor> sort) { m_sort = std::move(sort); }

    // 0: no limit.
    int fetchLimit() const { return m_limit; }
    void setFetchLimit(int limit) { m_limit = limit; }
    int fetchOffset() const { return m_offset; }
    void setFetchOffset(int offset) { m_offset = offset; }

    // 0: objects come with their values. Otherwise they come empty and are filled this many
    // at a time as they are first read, which keeps large fetches light.
    int fetchBatchSize() const { return m_batchSize; }
    void setFetchBatchSize(int size) { m_batchSize = size; }

    // Whether the context's unsaved inserts, changes and deletions count (default true).
    // False: only what is saved in the store.
    bool includesPendingChanges() const { return m_includesPendingChanges; }
    void setIncludesPendingChanges(bool include) { m_includesPendingChanges = include; }

    // The attributes fetchDictionaries() returns; empty: every attribute but binary ones.
    const QStringList &propertiesToFetch() const { return m_properties; }
    void setPropertiesToFetch(QStringList properties) { m_properties = std::move(properties); }

private:
    QString m_entityName;
    std::optional<Predicate> m_predicate;
    QList<SortDescriptor> m_sort;
    int m_limit = 0;
    int m_offset = 0;
    int m_batchSize = 0;
    bool m_includesPendingChanges = true;
    QStringList m_properties;
};
