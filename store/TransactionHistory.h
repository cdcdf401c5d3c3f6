#pragma once

#include "store/ObjectChanges.h"
#include "store/StoreError.h"

#include <QList>
#include <QString>

namespace sql {
class Connection;
}

// The store's transaction history: each save appends one record, in the same SQLite
// transaction, naming its author, context, process and origin (one per open container)
// and the rows it changed. Another process reading the records newer than the last it saw
// learns what changed and whether it was its own doing.
struct TransactionRecord {
    qint64 id = 0;
    qint64 timestamp = 0;      // milliseconds since 1970 UTC
    QString author;
    QString contextName;
    qint64 processId = 0;
    QString origin;
    ObjectChanges changes;
    // The store's count of changed rows before and after this transaction. A record whose
    // "before" is not the previous record's "after" had unrecorded writes before it.
    qint64 changesBefore = 0;
    qint64 changesAfter = 0;
};

// How many records are kept; older ones are dropped as new ones come. A reader that falls
// further behind sees a gap and treats everything as changed.
inline constexpr qint64 keptTransactions = 5000;

// Appends the record, stamping it with the time and this process's id.
StoreResult<void> appendTransaction(sql::Connection &connection, const TransactionRecord &record);
// The records after `afterId`, oldest first, with ids resolved against the store.
StoreResult<QList<TransactionRecord>> transactionsAfter(sql::Connection &connection, qint64 afterId,
                                                        const QString &storeIdentifier);
StoreResult<qint64> lastTransactionId(sql::Connection &connection);
StoreResult<qint64> changeCounter(sql::Connection &connection);
