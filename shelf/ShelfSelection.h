#pragma once

#include "shelf/SelectionModifier.h"

#include <QList>
#include <QSet>

#include <algorithm>
#include <optional>

// The selected cards, as a file browser keeps them. Pure value: every operation that needs the
// listed cards takes their identifiers in display order (`order`: anything with size() and
// operator[] giving an Id), and only ever considers identifiers found there, so ids of cards
// that left the list stay harmless until the next reset.
template<typename Id>
class ShelfSelection
{
public:
    QSet<Id> ids;
    // The card keyboard movement starts from: the last one acted on.
    std::optional<Id> lead;
    // The fixed end of a Shift range. Lead and anchor need not be selected (a Control-click
    // that removed a card leaves both on it).
    std::optional<Id> anchor;

    friend bool operator==(const ShelfSelection &, const ShelfSelection &) = default;

    bool isEmpty() const { return ids.isEmpty() && !lead && !anchor; }

    template<typename Order>
    void select(const Id &id, SelectionModifier modifier, const Order &order)
    {
        switch (modifier) {
        case SelectionModifier::Replace:
            ids = {id};
            break;
        case SelectionModifier::Toggle:
            if (!ids.remove(id))
                ids.insert(id);
            break;
        case SelectionModifier::Extend:
            extend(id, order);
            return;
        }
        lead = id;
        anchor = id;
    }

    // Shift range from the anchor (or, failing that, the lead, or the first card) to id; the
    // range replaces whatever was selected before.
    template<typename Order>
    void extend(const Id &to, const Order &order)
    {
        const auto target = indexOf(order, to);
        if (!target)
            return;
        auto pivot = anchor ? indexOf(order, *anchor) : std::nullopt;
        if (!pivot && lead)
            pivot = indexOf(order, *lead);
        const qsizetype p = pivot.value_or(0);
        const qsizetype first = std::min(p, *target);
        const qsizetype last = std::max(p, *target);
        ids.clear();
        ids.reserve(last - first + 1);
        for (qsizetype i = first; i <= last; ++i)
            ids.insert(order[i]);
        lead = to;
        anchor = order[p];
    }

    template<typename Order>
    void selectAll(const Order &order)
    {
        const qsizetype count = qsizetype(order.size());
        ids.clear();
        ids.reserve(count);
        for (qsizetype i = 0; i < count; ++i)
            ids.insert(order[i]);
        anchor = count > 0 ? std::optional<Id>(order[0]) : std::nullopt;
        if (!lead || !ids.contains(*lead))
            lead = anchor;
    }

    // Position of the lead card when it is listed, else of the first card; none for an empty list.
    template<typename Order>
    std::optional<qsizetype> leadIndex(const Order &order) const
    {
        if (lead) {
            if (const auto index = indexOf(order, *lead))
                return index;
        }
        return order.size() > 0 ? std::optional<qsizetype>(0) : std::nullopt;
    }

    // Positions of the listed selected cards in display order; when none is listed, the lead
    // card alone, so that commands always have a card to act on while any is listed.
    template<typename Order>
    QList<qsizetype> selectedIndexes(const Order &order) const
    {
        QList<qsizetype> selected;
        if (!ids.isEmpty()) {
            const qsizetype count = qsizetype(order.size());
            for (qsizetype i = 0; i < count; ++i) {
                if (ids.contains(order[i]))
                    selected.append(i);
            }
        }
        if (selected.isEmpty()) {
            if (const auto index = leadIndex(order))
                selected.append(*index);
        }
        return selected;
    }

    // The cards a command on the card at `index` covers, given selectedIndexes(): the selection
    // when it holds that card, else that card alone.
    static QList<qsizetype> targetIndexes(const QList<qsizetype> &selectedIndexes, qsizetype index)
    {
        if (std::binary_search(selectedIndexes.cbegin(), selectedIndexes.cend(), index))
            return selectedIndexes;
        return {index};
    }

    // Arrow-key movement by delta cards from the lead card, clamped to the list; with `extending`
    // a Shift range. Returns the position moved to, or none when nothing is listed (the key
    // press is then not handled).
    template<typename Order>
    std::optional<qsizetype> moveSelection(int delta, bool extending, const Order &order)
    {
        const auto base = leadIndex(order);
        if (!base)
            return std::nullopt;
        const qsizetype target = std::clamp(*base + delta, qsizetype(0), qsizetype(order.size()) - 1);
        const Id id = order[target];
        if (extending)
            extend(id, order);
        else
            select(id, SelectionModifier::Replace, order);
        return target;
    }

    // The selection once the cards in `deleted` are gone: the first surviving card after the
    // last deleted one, else the nearest survivor before the first deleted one, else nothing.
    template<typename Order>
    static ShelfSelection afterDeletion(const QSet<Id> &deleted, const Order &order)
    {
        const qsizetype count = qsizetype(order.size());
        std::optional<qsizetype> firstDeleted;
        std::optional<qsizetype> lastDeleted;
        for (qsizetype i = 0; i < count; ++i) {
            if (deleted.contains(order[i])) {
                if (!firstDeleted)
                    firstDeleted = i;
                lastDeleted = i;
            }
        }
        if (!firstDeleted)
            return {};
        for (qsizetype i = *lastDeleted + 1; i < count; ++i) {
            if (!deleted.contains(order[i]))
                return single(order[i]);
        }
        for (qsizetype i = *firstDeleted - 1; i >= 0; --i) {
            if (!deleted.contains(order[i]))
                return single(order[i]);
        }
        return {};
    }

    template<typename Order>
    static std::optional<qsizetype> indexOf(const Order &order, const Id &id)
    {
        const qsizetype count = qsizetype(order.size());
        for (qsizetype i = 0; i < count; ++i) {
            if (order[i] == id)
                return i;
        }
        return std::nullopt;
    }

private:
    static ShelfSelection single(const Id &id) { return {{id}, id, id}; }
};
