#pragma once

#include "store/FetchRequest.h"
#include "store/Model.h"
#include "store/PredicateSql.h"
#include "store/StoreError.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QVariantList>

// The SQL pieces of a fetch request over an entity's table (alias "t").
namespace fetchquery {

struct Query {
    QString where;            // the predicate's condition, empty for none
    QString order;            // the ORDER BY list, ending with the primary key
    QVariantList bindings;
    QList<int> sortAttributes;
    QList<bool> ascending;
};

StoreError invalidRequest(const QString &detail);
StoreResult<const EntityDescription *> entityOf(const ObjectModel &model, const FetchRequest &request);
StoreResult<Query> buildQuery(const EntityDescription &entity, const FetchRequest &request,
                              PredicateScope scope = PredicateScope::WholeTable);
QString limitClause(const FetchRequest &request);
QString keyListJson(const QSet<qint64> &keys);
// " WHERE a AND b" of the non-empty parts, or nothing.
QString whereClause(const QString &condition, const QString &exclusion);

} // namespace fetchquery
