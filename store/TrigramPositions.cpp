#include "store/TrigramPositions.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

int coverOffset(int index, int length)
{
    return std::min(3 * index, length - 3);
}

// How many trigrams cover a text of `length` characters.
int coverSize(int length)
{
    return length < 3 ? 0 : (length - 3) / 3 + 1 + ((length - 3) % 3 != 0 ? 1 : 0);
}

// One trigram's positions in the current row, in the index's order: by column, then offset.
struct Positions {
    Fts5PhraseIter iterator{};
    int column = -1;
    int offset = -1;
    int wanted = 0;   // where the trigram stands in the searched text

    bool exhausted() const { return column < 0; }
    bool before(int otherColumn, int otherOffset) const
    {
        return column < otherColumn || (column == otherColumn && offset < otherOffset);
    }
};

bool holdsAt(const Fts5ExtensionApi *api, Fts5Context *fts, std::vector<Positions> &trigrams, unsigned columns)
{
    Positions &first = trigrams.front();
    auto nextFirst = [&] { api->xPhraseNext(fts, &first.iterator, &first.column, &first.offset); };
    while (!first.exhausted()) {
        if (first.column >= 32 || !(columns & (1u << first.column))) {
            nextFirst();
            continue;
        }
        bool all = true;
        for (size_t i = 1; i < trigrams.size() && all; ++i) {
            Positions &other = trigrams[i];
            const int at = first.offset + other.wanted;
            while (!other.exhausted() && other.before(first.column, at))
                api->xPhraseNext(fts, &other.iterator, &other.column, &other.offset);
            if (other.exhausted())
                return false;
            if (other.column != first.column || other.offset != at) {
                all = false;
                // No start before this one can put that trigram where it is.
                const int column = other.column;
                const int start = other.offset - other.wanted;
                while (!first.exhausted() && first.before(column, start))
                    nextFirst();
            }
        }
        if (all)
            return true;
    }
    return false;
}

void trigramsAt(const Fts5ExtensionApi *api, Fts5Context *fts, sqlite3_context *context, int count,
                sqlite3_value **values)
{
    const qint64 length = count == 2 ? sqlite3_value_int64(values[1]) : -1;
    if (length < 3 || length > std::numeric_limits<int>::max() / 2
        || api->xPhraseCount(fts) != coverSize(int(length))) {
        sqlite3_result_error(context, "kn_trigrams_at: the query is no trigram cover of that length", -1);
        return;
    }
    const auto columns = unsigned(sqlite3_value_int64(values[0]));
    const int size = coverSize(int(length));
    std::vector<Positions> trigrams(static_cast<size_t>(size));
    for (int i = 0; i < int(trigrams.size()); ++i) {
        Positions &trigram = trigrams[size_t(i)];
        trigram.wanted = coverOffset(i, int(length));
        const int rc = api->xPhraseFirst(fts, i, &trigram.iterator, &trigram.column, &trigram.offset);
        if (rc != SQLITE_OK) {
            sqlite3_result_error_code(context, rc);
            return;
        }
    }
    sqlite3_result_int(context, holdsAt(api, fts, trigrams, columns) ? 1 : 0);
}

} // namespace

TrigramCover trigramCover(QStringView folded)
{
    const QList<uint> characters = folded.toUcs4();
    TrigramCover cover;
    cover.length = int(characters.size());
    cover.trigrams = coverSize(cover.length);
    QStringList phrases;
    for (int i = 0; i < cover.trigrams; ++i) {
        // Character by character: QString::fromUcs4 drops a U+FEFF it starts with as a byte order mark.
        QString trigram;
        for (int k = 0; k < 3; ++k)
            trigram += QChar::fromUcs4(characters[coverOffset(i, cover.length) + k]);
        trigram.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        phrases.append(QLatin1Char('"') + trigram + QLatin1Char('"'));
    }
    cover.query = phrases.join(QStringLiteral(" AND "));
    return cover;
}

int registerTrigramPositions(sqlite3 *db)
{
    fts5_api *api = nullptr;
    sqlite3_stmt *statement = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    sqlite3_bind_pointer(statement, 1, static_cast<void *>(&api), "fts5_api_ptr", nullptr);
    sqlite3_step(statement);
    rc = sqlite3_finalize(statement);
    if (rc != SQLITE_OK)
        return rc;
    if (!api || api->iVersion < 2)
        return SQLITE_ERROR;
    return api->xCreateFunction(api, "kn_trigrams_at", nullptr, trigramsAt, nullptr);
}
