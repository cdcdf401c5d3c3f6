#include "store/Schema.h"

#include "store/TextFolding.h"
#include "store/TrigramPositions.h"
#include "store/sql/SqlConnection.h"

#include <QSet>
#include <QStringList>
#include <QUuid>

#include <sqlite3.h>

namespace schema {

namespace {

QString columnType(AttributeType type)
{
    switch (type) {
    case AttributeType::UUID:
    case AttributeType::Binary: return QStringLiteral("BLOB");
    case AttributeType::String: return QStringLiteral("TEXT");
    case AttributeType::Date:
    case AttributeType::Integer16:
    case AttributeType::Integer64:
    case AttributeType::Boolean: return QStringLiteral("INTEGER");
    }
    return QStringLiteral("BLOB");
}

QString defaultClause(const AttributeDescription &attribute)
{
    if (attribute.defaultValue.isNull())
        return {};
    if (attribute.type == AttributeType::String) {
        QString text = attribute.defaultValue.toString();
        text.replace(QLatin1Char('\''), QStringLiteral("''"));
        return QStringLiteral(" DEFAULT '") + text + QLatin1Char('\'');
    }
    return QStringLiteral(" DEFAULT ") + QString::number(attribute.defaultValue.toLongLong());
}

bool hasBinaryAttributes(const EntityDescription &entity)
{
    for (const auto &attribute : entity.attributes) {
        if (attribute.isBinary())
            return true;
    }
    return false;
}

QStringList versionOneStatements(const ObjectModel &model)
{
    QStringList statements{
        QStringLiteral("CREATE TABLE store_metadata (key TEXT PRIMARY KEY, value TEXT)"),
        QStringLiteral("CREATE TABLE store_transactions (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "timestamp INTEGER NOT NULL, author TEXT, contextName TEXT, processID INTEGER, "
                       "origin TEXT, changes TEXT)"),
    };
    for (const auto &entity : model.entities) {
        QStringList columns{primaryKey + QStringLiteral(" INTEGER PRIMARY KEY AUTOINCREMENT")};
        QStringList externalColumns{primaryKey + QStringLiteral(" INTEGER PRIMARY KEY")};
        for (const auto &attribute : entity.attributes) {
            const QString column = attribute.name + QLatin1Char(' ') + columnType(attribute.type)
                + defaultClause(attribute);
            (attribute.isBinary() ? externalColumns : columns).append(column);
        }
        const QString table = tableName(entity);
        statements.append(QStringLiteral("CREATE TABLE %1 (%2)").arg(table, columns.join(QStringLiteral(", "))));
        if (hasBinaryAttributes(entity)) {
            const QString external = externalTableName(entity);
            statements.append(QStringLiteral("CREATE TABLE %1 (%2)")
                                  .arg(external, externalColumns.join(QStringLiteral(", "))));
            statements.append(QStringLiteral("CREATE TRIGGER %1_delete_external AFTER DELETE ON %1 "
                                             "BEGIN DELETE FROM %2 WHERE pk = old.pk; END")
                                  .arg(table, external));
        }
    }
    statements.append({
        // Listing newest first, finding duplicates, trimming unpinned items, label filters.
        QStringLiteral("CREATE INDEX ClipItem_createdAt ON ClipItem (createdAt)"),
        QStringLiteral("CREATE INDEX ClipItem_contentHash ON ClipItem (contentHash)"),
        QStringLiteral("CREATE INDEX ClipItem_isPinned_createdAt ON ClipItem (isPinned, createdAt)"),
        QStringLiteral("CREATE INDEX ClipItem_labelID ON ClipItem (labelID)"),
        QStringLiteral("CREATE INDEX ClipLabel_createdAt ON ClipLabel (createdAt)"),
    });
    return statements;
}

QString prefixedColumns(const QString &prefix)
{
    QStringList names;
    for (const QString &column : searchedAttributes())
        names.append(prefix + column);
    return names.join(QStringLiteral(", "));
}

// Adds the new folded row to the index, inside a trigger on the folded copy.
QString indexNewRow()
{
    return QStringLiteral("INSERT INTO %1(rowid, %2) VALUES (new.pk, %3);")
        .arg(searchTable, prefixedColumns({}), prefixedColumns(QStringLiteral("new.")));
}

// Takes the old folded row out of the index: the external-content index needs the values
// it was given.
QString unindexOldRow(const QString &condition = {})
{
    return QStringLiteral("INSERT INTO %1(%1, rowid, %2) SELECT 'delete', old.pk, %3%4;")
        .arg(searchTable, prefixedColumns({}), prefixedColumns(QStringLiteral("old.")),
             condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition);
}

// The same for the index of characters and pairs, which keeps no copy of its words either.
QString gramNewRow()
{
    return QStringLiteral("INSERT INTO %1(rowid, grams) VALUES (new.pk, kn_grams(%2));")
        .arg(gramsTable, prefixedColumns(QStringLiteral("new.")));
}

QString ungramOldRow()
{
    return QStringLiteral("INSERT INTO %1(%1, rowid, grams) VALUES ('delete', old.pk, kn_grams(%2));")
        .arg(gramsTable, prefixedColumns(QStringLiteral("old.")));
}

// The condition, inside a trigger on the folded copy, that the old row is in the indexes.
QString oldRowIndexed()
{
    return QStringLiteral("NOT EXISTS (SELECT 1 FROM %1 WHERE pk = old.pk)").arg(pendingIndexTable);
}

QStringList versionTwoStatements()
{
    const QStringList &columns = searchedAttributes();
    const QString list = columns.join(QStringLiteral(", "));
    QStringList folded, foldedNew, assignments;
    for (const QString &column : columns) {
        folded.append(column + QStringLiteral(" TEXT"));
        foldedNew.append(QStringLiteral("kn_fold(new.%1, 2)").arg(column));
        assignments.append(QStringLiteral("%1 = kn_fold(new.%1, 2)").arg(column));
    }
    const QString ft = foldedTable;
    const QString st = searchTable;
    const QString insertIndex = indexNewRow();
    const QString deleteIndex = unindexOldRow();
    return {
        QStringLiteral("CREATE TABLE %1 (pk INTEGER PRIMARY KEY, %2)").arg(ft, folded.join(QStringLiteral(", "))),
        // The folded texts are indexed as they are: the folding already ignores case.
        QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(%2, content='%3', content_rowid='pk', "
                       "tokenize='trigram case_sensitive 1')")
            .arg(st, list, ft),
        QStringLiteral("CREATE TRIGGER %1_ai AFTER INSERT ON %1 BEGIN %2 END").arg(ft, insertIndex),
        QStringLiteral("CREATE TRIGGER %1_ad AFTER DELETE ON %1 BEGIN %2 END").arg(ft, deleteIndex),
        QStringLiteral("CREATE TRIGGER %1_au AFTER UPDATE ON %1 BEGIN %2 %3 END").arg(ft, deleteIndex, insertIndex),
        // The folded copy follows the items inside the same statement, so it can never
        // disagree with them, whoever writes.
        QStringLiteral("CREATE TRIGGER ClipItem_fold_insert AFTER INSERT ON ClipItem BEGIN "
                       "INSERT INTO %1 (pk, %2) VALUES (new.pk, %3); END")
            .arg(ft, list, foldedNew.join(QStringLiteral(", "))),
        QStringLiteral("CREATE TRIGGER ClipItem_fold_update AFTER UPDATE OF %2 ON ClipItem BEGIN "
                       "UPDATE %1 SET %3 WHERE pk = new.pk; END")
            .arg(ft, list, assignments.join(QStringLiteral(", "))),
        QStringLiteral("CREATE TRIGGER ClipItem_fold_delete AFTER DELETE ON ClipItem BEGIN "
                       "DELETE FROM %1 WHERE pk = old.pk; END")
            .arg(ft),
    };
}

QStringList versionThreeStatements(const ObjectModel &model)
{
    QStringList statements{
        QStringLiteral("CREATE TABLE store_counter (id INTEGER PRIMARY KEY CHECK (id = 1), changes INTEGER NOT NULL)"),
        QStringLiteral("INSERT INTO store_counter (id, changes) VALUES (1, 0)"),
        QStringLiteral("ALTER TABLE store_transactions ADD COLUMN changesBefore INTEGER"),
        QStringLiteral("ALTER TABLE store_transactions ADD COLUMN changesAfter INTEGER"),
    };
    const QString bump = QStringLiteral("UPDATE store_counter SET changes = changes + 1 WHERE id = 1;");
    for (const auto &entity : model.entities) {
        for (const char *event : {"INSERT", "UPDATE", "DELETE"}) {
            const QString name = QLatin1String(event).toString().toLower();
            statements.append(QStringLiteral("CREATE TRIGGER %1_count_%2 AFTER %3 ON %1 BEGIN %4 END")
                                  .arg(tableName(entity), name, QLatin1String(event), bump));
        }
    }
    return statements;
}

// Writing to the index ends every statement that wrote to it with a flush of the index, which
// cost more than all else when each new row was indexed by its own trigger. New rows now wait
// in a list and are indexed together later (indexWaitingRows); a row still waiting has no
// index entries to change or take out.
QStringList versionFourStatements()
{
    const QString ft = foldedTable;
    const QString pending = pendingIndexTable;
    const QString indexed = oldRowIndexed();
    return {
        QStringLiteral("CREATE TABLE %1 (pk INTEGER PRIMARY KEY)").arg(pending),
        QStringLiteral("DROP TRIGGER %1_ai").arg(ft),
        QStringLiteral("DROP TRIGGER %1_ad").arg(ft),
        QStringLiteral("DROP TRIGGER %1_au").arg(ft),
        QStringLiteral("CREATE TRIGGER %1_ai AFTER INSERT ON %1 BEGIN INSERT INTO %2 (pk) VALUES (new.pk); END")
            .arg(ft, pending),
        // One trigger, so that the index is asked before the row leaves the waiting list.
        QStringLiteral("CREATE TRIGGER %1_ad AFTER DELETE ON %1 BEGIN %2 DELETE FROM %3 WHERE pk = old.pk; END")
            .arg(ft, unindexOldRow(indexed), pending),
        QStringLiteral("CREATE TRIGGER %1_au AFTER UPDATE ON %1 WHEN %2 BEGIN %3 %4 END")
            .arg(ft, indexed, unindexOldRow(), indexNewRow()),
    };
}

// Fills a table made from another one, by one call per searched attribute: what a
// migration does for rows that were there before the triggers.
QString fillFrom(const QString &table, const QString &source, const QString &call)
{
    QStringList values;
    for (const QString &column : searchedAttributes())
        values.append(call.arg(column));
    return QStringLiteral("INSERT INTO %1 (pk, %2) SELECT pk, %3 FROM %4")
        .arg(table, searchedAttributes().join(QStringLiteral(", ")), values.join(QStringLiteral(", ")), source);
}

QStringList migrationToTwo()
{
    return versionTwoStatements() << fillFrom(foldedTable, QStringLiteral("ClipItem"), QStringLiteral("kn_fold(%1, 2)"));
}

QStringList versionFiveStatements()
{
    // The shelf's kind filters list one kind newest first straight from this index.
    return {QStringLiteral("CREATE INDEX ClipItem_kind_createdAt ON ClipItem (kind, createdAt)")};
}

// A search of one character reads these short rows instead of every folded text.
QStringList versionSixStatements()
{
    const QString ct = charactersTable;
    QStringList values, assignments;
    for (const QString &column : searchedAttributes()) {
        values.append(QStringLiteral("kn_characters(new.%1)").arg(column));
        assignments.append(QStringLiteral("%1 = kn_characters(new.%1)").arg(column));
    }
    QStringList columns;
    for (const QString &column : searchedAttributes())
        columns.append(column + QStringLiteral(" TEXT"));
    const QString list = searchedAttributes().join(QStringLiteral(", "));
    return {
        QStringLiteral("CREATE TABLE %1 (pk INTEGER PRIMARY KEY, %2)").arg(ct, columns.join(QStringLiteral(", "))),
        QStringLiteral("CREATE TRIGGER %1_characters_insert AFTER INSERT ON %1 BEGIN "
                       "INSERT INTO %2 (pk, %3) VALUES (new.pk, %4); END")
            .arg(foldedTable, ct, list, values.join(QStringLiteral(", "))),
        QStringLiteral("CREATE TRIGGER %1_characters_update AFTER UPDATE ON %1 BEGIN "
                       "UPDATE %2 SET %3 WHERE pk = new.pk; END")
            .arg(foldedTable, ct, assignments.join(QStringLiteral(", "))),
        QStringLiteral("CREATE TRIGGER %1_characters_delete AFTER DELETE ON %1 BEGIN "
                       "DELETE FROM %2 WHERE pk = old.pk; END")
            .arg(foldedTable, ct),
    };
}

QStringList migrationToSix()
{
    return versionSixStatements() << fillFrom(charactersTable, foldedTable, QStringLiteral("kn_characters(%1)"));
}

// Searches of one or two characters look them up instead of reading a row per item. The
// index follows the trigram index: rows enter both when they leave the waiting list. Deleting
// needs kn_grams, which plain SQL lacks, so the delete trigger leaves the index alone and the
// store takes a row out before deleting it (ungramRowStatement).
QStringList versionSevenStatements()
{
    const QString ft = foldedTable;
    return {
        QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(grams, content='', detail=none, columnsize=0, "
                       "tokenize='ascii')")
            .arg(gramsTable),
        QStringLiteral("DROP TRIGGER %1_au").arg(ft),
        QStringLiteral("CREATE TRIGGER %1_au AFTER UPDATE ON %1 WHEN %2 BEGIN %3 %4 %5 %6 END")
            .arg(ft, oldRowIndexed(), unindexOldRow(), ungramOldRow(), indexNewRow(), gramNewRow()),
    };
}

QStringList migrationToSeven()
{
    return versionSevenStatements()
        << QStringLiteral("INSERT INTO %1(rowid, grams) SELECT pk, kn_grams(%2) FROM %3 "
                          "WHERE pk NOT IN (SELECT pk FROM %4)")
               .arg(gramsTable, prefixedColumns({}), foldedTable, pendingIndexTable);
}

StoreResult<void> runAll(sql::Connection &connection, const QStringList &statements)
{
    for (const QString &statement : statements) {
        if (auto result = connection.exec(statement); !result)
            return result;
    }
    return {};
}

StoreResult<void> setVersion(sql::Connection &connection, int version)
{
    return connection.exec(QStringLiteral("PRAGMA user_version = ") + QString::number(version));
}

StoreResult<QSet<QString>> columnsOf(sql::Connection &connection, const QString &table)
{
    auto statement = connection.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?)"));
    if (!statement)
        return statement.error();
    statement->bindText(1, table);
    QSet<QString> names;
    while (statement->next())
        names.insert(statement->text(0));
    if (statement->hasError())
        return statement->error();
    return names;
}

StoreError unknownSchema(const QString &detail)
{
    return StoreError{StoreError::Code::UnknownSchema, 0,
                      QStringLiteral("the store has an unknown schema (%1)").arg(detail)};
}

StoreResult<void> verifyTables(sql::Connection &connection, const ObjectModel &model, int version)
{
    auto require = [&](const QString &table, QStringList columns) -> StoreResult<void> {
        auto present = columnsOf(connection, table);
        if (!present)
            return present.error();
        for (const QString &column : columns) {
            if (!present->contains(column))
                return unknownSchema(table + QLatin1Char('.') + column + QStringLiteral(" is missing"));
        }
        return {};
    };
    for (const auto &entity : model.entities) {
        QStringList columns{primaryKey}, external{primaryKey};
        for (const auto &attribute : entity.attributes)
            (attribute.isBinary() ? external : columns).append(attribute.name);
        if (auto result = require(tableName(entity), columns); !result)
            return result;
        if (hasBinaryAttributes(entity)) {
            if (auto result = require(externalTableName(entity), external); !result)
                return result;
        }
    }
    if (auto result = require(QStringLiteral("store_transactions"),
                              {QStringLiteral("id"), QStringLiteral("timestamp"), QStringLiteral("author"),
                               QStringLiteral("processID"), QStringLiteral("origin"), QStringLiteral("changes")});
        !result)
        return result;
    if (version >= 3) {
        if (auto result = require(QStringLiteral("store_counter"), {QStringLiteral("id"), QStringLiteral("changes")});
            !result)
            return result;
        if (auto result = require(QStringLiteral("store_transactions"),
                                  {QStringLiteral("changesBefore"), QStringLiteral("changesAfter")});
            !result)
            return result;
    }
    if (version >= 4) {
        if (auto result = require(pendingIndexTable, {primaryKey}); !result)
            return result;
    }
    if (version >= 6) {
        QStringList characters{primaryKey};
        characters.append(searchedAttributes());
        if (auto result = require(charactersTable, characters); !result)
            return result;
    }
    if (version >= 7) {
        if (auto result = require(gramsTable, {QStringLiteral("grams")}); !result)
            return result;
    }
    if (version < 2)
        return {};
    QStringList folded{primaryKey};
    folded.append(searchedAttributes());
    if (auto result = require(foldedTable, folded); !result)
        return result;
    auto search = connection.queryInt64(
        QStringLiteral("SELECT count(*) FROM sqlite_schema WHERE name = '%1'").arg(searchTable));
    if (!search)
        return search.error();
    if (*search != 1)
        return unknownSchema(searchTable + QStringLiteral(" is missing"));
    return {};
}

StoreError asMigrationFailure(const StoreError &error, int fromVersion)
{
    StoreError failure = error;
    failure.code = StoreError::Code::MigrationFailed;
    failure.message = QStringLiteral("migrating the store from version %1 failed: %2")
                          .arg(fromVersion)
                          .arg(error.localizedDescription());
    return failure;
}

StoreResult<void> prepareInTransaction(sql::Connection &connection, const ObjectModel &model)
{
    auto version = storedVersion(connection);
    if (!version)
        return version.error();
    if (*version == 0)
        return createSchemaVersion(connection, model, currentVersion);
    if (*version == 1) {
        if (auto result = verifyTables(connection, model, 1); !result)
            return result;
        if (auto result = runAll(connection, migrationToTwo()); !result)
            return asMigrationFailure(result.error(), 1);
        if (auto result = setVersion(connection, 2); !result)
            return asMigrationFailure(result.error(), 1);
    }
    if (*version <= 2) {
        if (auto result = verifyTables(connection, model, 2); !result)
            return result;
        if (auto result = runAll(connection, versionThreeStatements(model)); !result)
            return asMigrationFailure(result.error(), 2);
        if (auto result = setVersion(connection, 3); !result)
            return asMigrationFailure(result.error(), 2);
    }
    if (*version <= 3) {
        if (auto result = verifyTables(connection, model, 3); !result)
            return result;
        if (auto result = runAll(connection, versionFourStatements()); !result)
            return asMigrationFailure(result.error(), 3);
        if (auto result = setVersion(connection, 4); !result)
            return asMigrationFailure(result.error(), 3);
    }
    if (*version <= 4) {
        if (auto result = verifyTables(connection, model, 4); !result)
            return result;
        if (auto result = runAll(connection, versionFiveStatements()); !result)
            return asMigrationFailure(result.error(), 4);
        if (auto result = setVersion(connection, 5); !result)
            return asMigrationFailure(result.error(), 4);
    }
    if (*version <= 5) {
        if (auto result = verifyTables(connection, model, 5); !result)
            return result;
        if (auto result = runAll(connection, migrationToSix()); !result)
            return asMigrationFailure(result.error(), 5);
        if (auto result = setVersion(connection, 6); !result)
            return asMigrationFailure(result.error(), 5);
    }
    if (*version <= 6) {
        if (auto result = verifyTables(connection, model, 6); !result)
            return result;
        if (auto result = runAll(connection, migrationToSeven()); !result)
            return asMigrationFailure(result.error(), 6);
        if (auto result = setVersion(connection, 7); !result)
            return asMigrationFailure(result.error(), 6);
    }
    return verifyTables(connection, model, currentVersion);
}

} // namespace

QString tableName(const EntityDescription &entity)
{
    return entity.name;
}

QString externalTableName(const EntityDescription &entity)
{
    return entity.name + QStringLiteral("_external");
}

QString ungramRowStatement()
{
    return QStringLiteral("INSERT INTO %1(%1, rowid, grams) SELECT 'delete', f.pk, kn_grams(%2) FROM %3 f "
                          "WHERE f.pk = ? AND NOT EXISTS (SELECT 1 FROM %4 WHERE pk = f.pk)")
        .arg(gramsTable, prefixedColumns(QStringLiteral("f.")), foldedTable, pendingIndexTable);
}

const QStringList &searchedAttributes()
{
    static const QStringList attributes{QStringLiteral("plainText"), QStringLiteral("fileName"),
                                        QStringLiteral("sourceAppName"), QStringLiteral("title")};
    return attributes;
}

StoreResult<void> configureConnection(sql::Connection &connection)
{
    int rc = registerFoldingFunctions(connection.handle());
    if (rc == SQLITE_OK)
        rc = registerTrigramPositions(connection.handle());
    if (rc != SQLITE_OK)
        return connection.lastError(rc);
    // WAL makes each commit durable against a killed process; NORMAL keeps commits fast
    // and the file consistent after power loss (the last commits may then be lost).
    // A log grown long during a burst of saves is cut back when it starts over.
    return connection.exec(QStringLiteral("PRAGMA synchronous = NORMAL; PRAGMA cache_size = -8192; "
                                          "PRAGMA temp_store = MEMORY; PRAGMA journal_size_limit = 4194304"));
}

StoreResult<void> createSchemaVersion(sql::Connection &connection, const ObjectModel &model, int version)
{
    QStringList statements = versionOneStatements(model);
    if (version >= 2)
        statements.append(versionTwoStatements());
    if (version >= 3)
        statements.append(versionThreeStatements(model));
    if (version >= 4)
        statements.append(versionFourStatements());
    if (version >= 5)
        statements.append(versionFiveStatements());
    if (version >= 6)
        statements.append(versionSixStatements());
    if (version >= 7)
        statements.append(versionSevenStatements());
    statements.append(QStringLiteral("PRAGMA application_id = ") + QString::number(applicationId));
    statements.append(QStringLiteral("INSERT INTO store_metadata (key, value) VALUES ('storeUUID', '%1')")
                          .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
    if (auto result = runAll(connection, statements); !result)
        return result;
    return setVersion(connection, version);
}

StoreResult<int> storedVersion(sql::Connection &connection)
{
    auto application = connection.queryInt64(QStringLiteral("PRAGMA application_id"));
    if (!application)
        return application.error();
    auto version = connection.queryInt64(QStringLiteral("PRAGMA user_version"));
    if (!version)
        return version.error();
    auto objects = connection.queryInt64(QStringLiteral("SELECT count(*) FROM sqlite_schema"));
    if (!objects)
        return objects.error();
    if (*application == 0 && *version == 0 && *objects == 0)
        return 0;
    if (*application != applicationId)
        return unknownSchema(QStringLiteral("not a Kestrelnote store"));
    if (*version < 1 || *version > currentVersion)
        return unknownSchema(QStringLiteral("version %1").arg(*version));
    return int(*version);
}

StoreResult<bool> rowsWaitForIndex(sql::Connection &connection)
{
    auto waiting = connection.queryInt64(QStringLiteral("SELECT EXISTS (SELECT 1 FROM %1)").arg(pendingIndexTable));
    if (!waiting)
        return waiting.error();
    return *waiting != 0;
}

StoreResult<int> indexWaitingRows(sql::Connection &connection, int limit)
{
    auto waiting = rowsWaitForIndex(connection);
    if (!waiting)
        return waiting.error();
    if (!*waiting)
        return 0;

    // Both statements take the same rows: no other writer runs inside the transaction.
    const QString oldest = QStringLiteral("SELECT pk FROM %1 ORDER BY pk LIMIT %2").arg(pendingIndexTable).arg(limit);
    sql::Transaction transaction(connection);
    if (auto begun = transaction.begin(); !begun)
        return begun.error();
    if (auto result = connection.exec(QStringLiteral("INSERT INTO %1(rowid, %2) SELECT f.pk, %3 FROM (%4) p "
                                                     "JOIN %5 f ON f.pk = p.pk")
                                          .arg(searchTable, prefixedColumns({}), prefixedColumns(QStringLiteral("f.")),
                                               oldest, foldedTable));
        !result)
        return result.error();
    if (auto result = connection.exec(QStringLiteral("INSERT INTO %1(rowid, grams) SELECT f.pk, kn_grams(%2) FROM (%3) p "
                                                     "JOIN %4 f ON f.pk = p.pk")
                                          .arg(gramsTable, prefixedColumns(QStringLiteral("f.")), oldest, foldedTable));
        !result)
        return result.error();
    if (auto result = connection.exec(QStringLiteral("DELETE FROM %1 WHERE pk IN (%2)").arg(pendingIndexTable, oldest));
        !result)
        return result.error();
    const int taken = connection.changes();
    if (auto committed = transaction.commit(); !committed)
        return committed.error();
    return taken;
}

StoreResult<void> prepareDatabase(sql::Connection &connection, const ObjectModel &model)
{
    sql::Transaction transaction(connection);
    if (auto result = transaction.begin(); !result)
        return result;
    if (auto result = prepareInTransaction(connection, model); !result)
        return result;
    return transaction.commit();
}

} // namespace schema
