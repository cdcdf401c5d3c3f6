#pragma once

#include <QtGlobal>

#include <optional>

// A request to bring one card into view. The generation makes a repeated request for the same
// card a new one, so the strip scrolls again after the user scrolled away.
template<typename Id>
struct ShelfScrollRequest {
    Id id;
    qint64 generation = 1;

    friend bool operator==(const ShelfScrollRequest &, const ShelfScrollRequest &) = default;

    // The request that follows `pending`: one generation later, or the first one.
    static ShelfScrollRequest following(const std::optional<ShelfScrollRequest> &pending, const Id &id)
    {
        return {id, pending ? pending->generation + 1 : 1};
    }
};
