#pragma once

#include "store/TextComparison.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

struct sqlite3;

// The same folding serves SQL and in-memory evaluation, so a query and a check of an
// unsaved object always agree.

// The comparable form of a text: case folded for [c]; decomposed, stripped of combining
// marks and case folded for [cd] ("Résumé" and "RESUME" both fold to "resume").
QString foldText(QStringView text, TextComparison comparison);
// The same for a UTF-8 text, giving UTF-8: what the store keeps as a text's folded copy.
QByteArray foldUtf8(QByteArrayView text, TextComparison comparison);

// Each of these folds both sides; an empty needle never matches.
bool foldedContains(QStringView haystack, QStringView needle, TextComparison comparison);
bool foldedStartsWith(QStringView haystack, QStringView needle, TextComparison comparison);
bool foldedEquals(QStringView a, QStringView b, TextComparison comparison);

// The words that searches of one or two characters look up: each distinct character of a
// folded text and each distinct pair of neighbouring characters, in hexadecimal code points
// ("61", "61x62"). searchGrams gives those of some texts, separated by spaces; searchGram the
// one word of a folded search text of one or two characters (empty for other lengths).
// Stores keep these words in an index that can only take a row out by its words: changing
// them needs a schema version that rebuilds the index.
QByteArray searchGrams(const QList<QByteArrayView> &foldedTexts);
QString searchGram(QStringView folded);

// Registers kn_fold(text, mode), kn_contains(text, needle, mode),
// kn_begins_with(text, needle, mode), kn_characters(text) (each distinct character once)
// and kn_grams(text, ...) (searchGrams) on a connection; mode is the TextComparison value.
int registerFoldingFunctions(sqlite3 *db);
