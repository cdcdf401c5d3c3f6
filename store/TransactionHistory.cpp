#include "store/TransactionHistory.h"

#include "store/Model.h"
#include "store/Schema.h"
#include "store/sql/SqlConnection.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonArray encodeIds(const QList<ObjectId> &ids)
{
    QJsonArray array;
    for (const ObjectId &id : ids)
        array.append(QString(id.entityName() + QLatin1Char('/') + QString::number(id.primaryKey())));
    return array;
}

QList<ObjectId> decodeIds(const QJsonArray &array, const QString &store)
{
    QList<ObjectId> ids;
    for (const QJsonValue &value : array) {
        const QString text = value.toString();
        const qsizetype slash = text.indexOf(QLatin1Char('/'));
        if (slash <= 0)
            continue;
        const int entity = makeModel().indexOf(text.left(slash));
        bool ok = false;
        const qint64 key = text.mid(slash + 1).toLongLong(&ok);
        if (entity >= 0 && ok)
            ids.append(ObjectId(store, entity, key));
    }
    return ids;
}

QString encodeChanges(const ObjectChanges &changes)
{
    QJsonObject object;
    object.insert(QStringLiteral("i"), encodeIds(changes.inserted));
    object.insert(QStringLiteral("u"), encodeIds(changes.updated));
    object.insert(QStringLiteral("d"), encodeIds(changes.deleted));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

ObjectChanges decodeChanges(const QString &text, const QString &store)
{
    ObjectChanges changes;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        changes.everythingMayHaveChanged = true;
        return changes;
    }
    const QJsonObject object = document.object();
    changes.inserted = decodeIds(object.value(QStringLiteral("i")).toArray(), store);
    changes.updated = decodeIds(object.value(QStringLiteral("u")).toArray(), store);
    changes.deleted = decodeIds(object.value(QStringLiteral("d")).toArray(), store);
    return changes;
}

} // namespace

StoreResult<void> appendTransaction(sql::Connection &connection, const TransactionRecord &record)
{
    auto insert = connection.cached(QStringLiteral(
        "INSERT INTO store_transactions (timestamp, author, contextName, processID, origin, changes, "
        "changesBefore, changesAfter) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    if (!insert)
        return insert.error();
    sql::Statement &statement = **insert;
    statement.bindInt64(1, QDateTime::currentMSecsSinceEpoch());
    statement.bindText(2, record.author);
    statement.bindText(3, record.contextName);
    statement.bindInt64(4, QCoreApplication::applicationPid());
    statement.bindText(5, record.origin);
    statement.bindText(6, encodeChanges(record.changes));
    statement.bindInt64(7, record.changesBefore);
    statement.bindInt64(8, record.changesAfter);
    if (auto result = statement.exec(); !result)
        return result;
    const qint64 id = connection.lastInsertRowId();
    auto prune = connection.cached(QStringLiteral("DELETE FROM store_transactions WHERE id <= ?"));
    if (!prune)
        return prune.error();
    (*prune)->bindInt64(1, id - keptTransactions);
    return (*prune)->exec();
}

StoreResult<QList<TransactionRecord>> transactionsAfter(sql::Connection &connection, qint64 afterId,
                                                        const QString &storeIdentifier)
{
    auto query = connection.cached(QStringLiteral(
        "SELECT id, timestamp, author, contextName, processID, origin, changes, changesBefore, changesAfter "
        "FROM store_transactions "
        "WHERE id > ? ORDER BY id"));
    if (!query)
        return query.error();
    sql::Statement &statement = **query;
    statement.bindInt64(1, afterId);
    QList<TransactionRecord> records;
    while (statement.next()) {
        TransactionRecord record;
        record.id = statement.int64(0);
        record.timestamp = statement.int64(1);
        record.author = statement.text(2);
        record.contextName = statement.text(3);
        record.processId = statement.int64(4);
        record.origin = statement.text(5);
        record.changes = decodeChanges(statement.text(6), storeIdentifier);
        record.changesBefore = statement.int64(7);
        record.changesAfter = statement.int64(8);
        records.append(record);
    }
    if (statement.hasError())
        return statement.error();
    statement.reset();
    return records;
}

StoreResult<qint64> lastTransactionId(sql::Connection &connection)
{
    return connection.queryInt64(QStringLiteral("SELECT coalesce(max(id), 0) FROM store_transactions"));
}

StoreResult<qint64> changeCounter(sql::Connection &connection)
{
    auto query = connection.cached(schema::changeCounterQuery);
    if (!query)
        return query.error();
    if (!(*query)->next())
        return (*query)->hasError() ? (*query)->error()
                                    : StoreError{StoreError::Code::UnknownSchema, 0, QStringLiteral("no change counter")};
    return (*query)->int64(0);
}
