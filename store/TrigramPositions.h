#pragma once

#include <QString>
#include <QStringList>

struct sqlite3;

// A search of a folded text in the trigram index, as a query of the trigrams that cover the
// text without overlapping where they can: the one at index i stands at character
// min(3i, length - 3) of the text ("meeting th": "mee", "tin", "g t", " th" at 0, 3, 6, 7).
// A row holds the text exactly where those trigrams stand at those offsets in one column:
// four position lists tested up to the first match, where the text's phrase of eight
// trigrams made FTS5 compare every position of all eight in every row that holds them.
struct TrigramCover {
    QString query;     // "mee" AND "tin" AND ..., for MATCH
    int length = 0;    // of the text, in characters
    int trigrams = 0;
};

// No trigrams for a text of fewer than three characters.
TrigramCover trigramCover(QStringView folded);

// Registers the FTS5 auxiliary function kn_trigrams_at(table, columns, length): whether the
// current row holds the trigrams of a trigramCover's query, made from a text of that many
// characters, where the text puts them, from one position of one of the columns (a bit mask
// of the table's columns). Its arguments take no room for each trigram: SQLite limits
// a function to 127 of them.
int registerTrigramPositions(sqlite3 *db);
