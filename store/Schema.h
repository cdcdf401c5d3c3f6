#pragma once

#include "store/Model.h"
#include "store/StoreError.h"

#include <QString>

namespace sql {
class Connection;
}

// The SQL schema made from the object model, its versions and migrations.
//
// Each entity has a table of its own name with one column per non-binary attribute and
// an integer primary key "pk" that is never reused (the object identifier). Binary
// attributes live in "<Entity>_external", keyed by the same pk, so listing rows never
// reads image bytes. The searched texts of ClipItem are kept case- and diacritic-folded
// in "ClipItem_folded", indexed by the trigram index "ClipItem_search" and by the index of
// characters and pairs "ClipItem_grams", and their distinct characters in "ClipItem_characters".
namespace schema {

// 1: entity tables, store metadata and transaction history.
// 2: the folded copy of the searched texts and its trigram index.
// 3: a counter of changed rows kept by triggers, recorded before and after each save, so
//    that writes made without a record (plain SQL) are noticed.
// 4: new rows wait in a list and enter the trigram index once per save.
// 5: an index on kind and date for the kind filters.
// 6: the distinct characters of each folded text, for searches of one character.
// 7: an index of the characters and pairs of characters of each folded row, for searches of
//    one or two characters.
inline constexpr int currentVersion = 7;
// "KnSt": marks the file as a Kestrelnote store.
inline constexpr int applicationId = 0x4B6E5374;

QString tableName(const EntityDescription &entity);
QString externalTableName(const EntityDescription &entity);
inline const QString primaryKey = QStringLiteral("pk");

// The number of rows ever inserted, updated or deleted: store_counter.changes.
inline const QString changeCounterQuery = QStringLiteral("SELECT changes FROM store_counter WHERE id = 1");

// The attributes of ClipItem that text search reads from the folded copy.
const QStringList &searchedAttributes();
inline const QString foldedTable = QStringLiteral("ClipItem_folded");
inline const QString searchTable = QStringLiteral("ClipItem_search");
// Folded rows not in the index yet; searches look at them directly.
inline const QString pendingIndexTable = QStringLiteral("ClipItem_search_pending");
// The distinct characters of each folded text (kn_characters), kept by triggers.
inline const QString charactersTable = QStringLiteral("ClipItem_characters");
// Each folded row's characters and pairs of characters (kn_grams), indexed with the rows
// of the trigram index.
inline const QString gramsTable = QStringLiteral("ClipItem_grams");
// Takes the ClipItem row whose key is bound out of that index; run before deleting it. A row
// deleted by plain SQL stays in the index, where its key, never used again, matches no row.
QString ungramRowStatement();

// Per-connection settings and the SQL functions the schema and the queries rely on.
StoreResult<void> configureConnection(sql::Connection &connection);

// The schema version of a store: 0 for an empty database, UnknownSchema for anything that
// is not one of ours or is newer. Reads only, so a foreign file is left as it was.
StoreResult<int> storedVersion(sql::Connection &connection);

// Whether folded rows wait to enter the substring index.
StoreResult<bool> rowsWaitForIndex(sql::Connection &connection);

// Indexes up to `limit` of the folded rows that wait for it, oldest first, in one
// transaction; gives how many it took. Writes nothing when none wait.
StoreResult<int> indexWaitingRows(sql::Connection &connection, int limit);

// Creates the schema in an empty database, migrates an older known version in place, and
// refuses anything else as an unknown schema. Runs in one transaction.
StoreResult<void> prepareDatabase(sql::Connection &connection, const ObjectModel &model);

// The schema of one version, for tests that need an older store.
StoreResult<void> createSchemaVersion(sql::Connection &connection, const ObjectModel &model, int version);

} // namespace schema
