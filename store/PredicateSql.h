#pragma once

#include "store/Model.h"
#include "store/Predicate.h"
#include "store/StoreError.h"

#include <QString>
#include <QVariantList>

#include <optional>

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

// A predicate whose text search (CONTAINS[cd] of one text in searched attributes, alone or
// joined by OR) can be answered apart from the rest: the search as a query of the keys of
// every row it matches, and the AND of the predicate's other parts (none when the search
// stands alone). Nothing for a predicate that is not such a search or an AND with one.
struct SplitSearch {
    std::optional<Predicate> rest;
    CompiledPredicate keys;
};
std::optional<SplitSearch> splitSearch(const EntityDescription &entity, const Predicate &predicate);
