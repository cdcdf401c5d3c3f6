#pragma once

#include "store/Model.h"
#include "store/Predicate.h"
#include "store/StoreError.h"

#include <QString>
#include <QVariantList>

// A predicate as an SQL condition over the entity's table (alias "t") with its values
// to bind in order.
struct CompiledPredicate {
    QString sql;
    QVariantList bindings;
};

// How many rows the condition will be tested on. Text search uses the trigram index for
// a whole table and reads the folded texts directly for a few known rows.
enum class PredicateScope { WholeTable, FewRows };

// Checks attribute names and value types against the entity; InvalidRequest when they
// do not fit.
StoreResult<CompiledPredicate> compilePredicate(const EntityDescription &entity, const Predicate &predicate,
                                                PredicateScope scope = PredicateScope::WholeTable);
