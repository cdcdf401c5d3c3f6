#include "store/FetchQuery.h"

#include "store/PredicateSql.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace fetchquery {

StoreError invalidRequest(const QString &detail)
{
    return StoreError{StoreError::Code::InvalidRequest, 0, detail};
}

StoreResult<const EntityDescription *> entityOf(const ObjectModel &model, const FetchRequest &request)
{
    const EntityDescription *entity = model.entity(request.entityName());
    if (!entity)
        return invalidRequest(QStringLiteral("no entity named %1").arg(request.entityName()));
    return entity;
}

StoreResult<Query> buildQuery(const EntityDescription &entity, const FetchRequest &request, PredicateScope scope)
{
    Query query;
    if (request.predicate()) {
        auto compiled = compilePredicate(entity, *request.predicate(), scope);
        if (!compiled)
            return compiled.error();
        query.where = compiled->sql;
        query.bindings = compiled->bindings;
    }
    QStringList order;
    for (const SortDescriptor &sort : request.sortDescriptors()) {
        const int index = entity.indexOf(sort.key);
        if (index < 0 || entity.attributes[index].isBinary())
            return invalidRequest(QStringLiteral("%1 cannot be sorted by %2").arg(entity.name, sort.key));
        order.append(QStringLiteral("t.%1 %2").arg(sort.key, sort.ascending ? QStringLiteral("ASC") : QStringLiteral("DESC")));
        query.sortAttributes.append(index);
        query.ascending.append(sort.ascending);
    }
    // Ties go by primary key, in the direction of the last key, which lets SQLite walk a
    // single-column index in either direction.
    const bool lastAscending = query.ascending.isEmpty() || query.ascending.last();
    order.append(QStringLiteral("t.pk ") + (lastAscending ? QStringLiteral("ASC") : QStringLiteral("DESC")));
    query.order = order.join(QStringLiteral(", "));
    return query;
}

QString limitClause(const FetchRequest &request)
{
    if (request.fetchLimit() <= 0 && request.fetchOffset() <= 0)
        return {};
    return QStringLiteral(" LIMIT %1 OFFSET %2")
        .arg(request.fetchLimit() > 0 ? request.fetchLimit() : -1)
        .arg(std::max(0, request.fetchOffset()));
}

QString keyListJson(const QSet<qint64> &keys)
{
    QJsonArray array;
    for (qint64 key : keys)
        array.append(key);
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString whereClause(const QString &condition, const QString &exclusion)
{
    QStringList parts;
    if (!condition.isEmpty())
        parts.append(condition);
    if (!exclusion.isEmpty())
        parts.append(exclusion);
    return parts.isEmpty() ? QString() : QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
}


} // namespace fetchquery
