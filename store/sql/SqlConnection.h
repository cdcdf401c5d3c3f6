#pragma once

#include "store/StoreError.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace sql {

class Connection;

// One prepared statement. Values are bound by position (1-based) and read by column
// (0-based). Owned by the caller; it must not outlive its connection.
class Statement
{
public:
    Statement() = default;
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    ~Statement();

    bool isValid() const { return m_statement != nullptr; }

    void bindNull(int index);
    void bindInt64(int index, qint64 value);
    void bindDouble(int index, double value);
    void bindText(int index, const QString &value);
    void bindText(int index, const QByteArray &utf8);
    void bindBlob(int index, const QByteArray &value);
    // Binds by the variant's type: null, bool and integers as integers, doubles, byte
    // arrays as blobs, everything else as text.
    void bind(int index, const QVariant &value);

    // Runs one step: true while a row is ready, false when done; errors go to error().
    bool next();
    // Runs to completion, for statements without results.
    StoreResult<void> exec();
    void reset();

    bool hasError() const { return m_error.has_value(); }
    const StoreError &error() const { return *m_error; }

    bool isNull(int column) const;
    bool isInteger(int column) const;
    qint64 int64(int column) const;
    double real(int column) const;
    QString text(int column) const;
    QByteArray blob(int column) const;
    // The column's value by its stored type: null, integer, real, text or blob.
    QVariant value(int column) const;

private:
    friend class Connection;
    Statement(sqlite3_stmt *statement, Connection *connection);

    sqlite3_stmt *m_statement = nullptr;
    Connection *m_connection = nullptr;
    std::optional<StoreError> m_error;
};

// A cached statement on loan: reset (ending its read) when the loan ends.
class StatementLease
{
public:
    explicit StatementLease(Statement *statement) : m_statement(statement) { }
    StatementLease(StatementLease &&other) noexcept : m_statement(std::exchange(other.m_statement, nullptr)) { }
    StatementLease &operator=(StatementLease &&other) noexcept
    {
        std::swap(m_statement, other.m_statement);
        return *this;
    }
    ~StatementLease()
    {
        if (m_statement)
            m_statement->reset();
    }

    Statement *operator->() const { return m_statement; }
    Statement &operator*() const { return *m_statement; }

private:
    Statement *m_statement;
};

// One SQLite connection, used from one thread at a time.
class Connection
{
public:
    struct OpenOptions {
        bool readOnly = false;
        bool createIfMissing = true;
        bool uri = false;          // the path is an SQLite URI ("file:/x?vfs=memdb")
        QByteArray vfs;            // empty: the default file system
        int busyTimeoutMs = 5000;
    };

    static StoreResult<std::unique_ptr<Connection>> open(const QString &path, const OpenOptions &options);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    sqlite3 *handle() const { return m_db; }

    StoreResult<Statement> prepare(const QString &sql);
    // Prepared with `bindings` bound to its parameters in order.
    StoreResult<Statement> prepare(const QString &sql, const QVariantList &bindings);
    // A statement kept for reuse by this connection, with its bindings cleared. Do not
    // hold two loans of the same SQL at once.
    StoreResult<StatementLease> cached(const QString &sql);
    StoreResult<void> exec(const QString &sql);
    // A single integer from a query such as "PRAGMA user_version".
    StoreResult<qint64> queryInt64(const QString &sql);

    StoreError lastError(int resultCode) const;
    qint64 lastInsertRowId() const;
    int changes() const;

private:
    explicit Connection(sqlite3 *db) : m_db(db) { }

    sqlite3 *m_db = nullptr;
    QHash<QString, std::shared_ptr<Statement>> m_cache;
};

// Runs the body inside "BEGIN IMMEDIATE" ... "COMMIT"; any failure rolls back.
class Transaction
{
public:
    explicit Transaction(Connection &connection) : m_connection(connection) { }
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    StoreResult<void> begin();
    StoreResult<void> commit();
    void rollback();

private:
    Connection &m_connection;
    bool m_open = false;
};

// Reads made while it is open all see one state of the database. A savepoint, so that it
// also works inside a transaction already open.
class ReadSnapshot
{
public:
    explicit ReadSnapshot(Connection &connection) : m_connection(connection) { }
    ~ReadSnapshot();
    ReadSnapshot(const ReadSnapshot &) = delete;
    ReadSnapshot &operator=(const ReadSnapshot &) = delete;

    StoreResult<void> begin();

private:
    Connection &m_connection;
    bool m_open = false;
};

} // namespace sql
