#pragma once

#include "store/TextComparison.h"

#include <QByteArrayView>
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

// Registers kn_fold(text, mode), kn_contains(text, needle, mode),
// kn_begins_with(text, needle, mode) and kn_characters(text) (each distinct character once)
// on a connection; mode is the TextComparison value.
int registerFoldingFunctions(sqlite3 *db);
