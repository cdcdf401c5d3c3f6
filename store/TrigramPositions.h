#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct sqlite3;

// A search of a folded text in the trigram index, as a query whose trigrams cover the text
// without overlapping where they can ("meeting th": "mee", "tin", "g t", " th" at 0, 3, 6
// and 7) and the offsets the text puts them at. A row holds the text exactly where its
// trigrams stand at those offsets in one column: four position lists tested up to the
// first match, where the text's phrase of eight trigrams made FTS5 compare every position
// of all eight in every row that holds them.
struct TrigramCover {
    QString query;       // "mee" AND "tin" AND ..., for MATCH
    QList<int> offsets;  // of each trigram of the query, in characters from the first
};

// Empty for a text of fewer than three characters.
TrigramCover trigramCover(QStringView folded);

// Registers the FTS5 auxiliary function kn_trigrams_at(table, columns, offset, ...): whether
// the current row holds the query's trigrams at those offsets from one position of one of
// the columns (a bit mask of the table's columns). The query must be a trigramCover's.
int registerTrigramPositions(sqlite3 *db);
