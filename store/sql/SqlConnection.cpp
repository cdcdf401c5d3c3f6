#include "store/sql/SqlConnection.h"

#include "store/Utf8Text.h"
#include "store/sql/LogWriteVfs.h"

#include <sqlite3.h>

namespace sql {

Statement::Statement(sqlite3_stmt *statement, Connection *connection)
    : m_statement(statement)
    , m_connection(connection)
{
}

Statement::Statement(Statement &&other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr))
    , m_connection(other.m_connection)
    , m_error(std::move(other.m_error))
{
}

Statement &Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_connection = other.m_connection;
        m_error = std::move(other.m_error);
    }
    return *this;
}

Statement::~Statement()
{
    sqlite3_finalize(m_statement);
}

void Statement::bindNull(int index)
{
    sqlite3_bind_null(m_statement, index);
}

void Statement::bindInt64(int index, qint64 value)
{
    sqlite3_bind_int64(m_statement, index, value);
}

void Statement::bindDouble(int index, double value)
{
    sqlite3_bind_double(m_statement, index, value);
}

void Statement::bindText(int index, const QString &value)
{
    bindText(index, value.toUtf8());
}

void Statement::bindText(int index, const QByteArray &utf8)
{
    sqlite3_bind_text64(m_statement, index, utf8.constData(), sqlite3_uint64(utf8.size()),
                        SQLITE_TRANSIENT, SQLITE_UTF8);
}

void Statement::bindBlob(int index, const QByteArray &value)
{
    // A null QByteArray still stores an empty blob, not NULL: the caller binds null itself.
    static const char empty = 0;
    sqlite3_bind_blob64(m_statement, index, value.isEmpty() ? &empty : value.constData(),
                        sqlite3_uint64(value.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int index, const QVariant &value)
{
    if (value.isNull()) {
        bindNull(index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
        bindInt64(index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        bindDouble(index, value.toDouble());
        break;
    case QMetaType::QByteArray:
        bindBlob(index, value.toByteArray());
        break;
    default:
        bindText(index, value.toString());
        break;
    }
}

bool Statement::next()
{
    if (m_error)
        return false;
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        m_error = m_connection->lastError(rc);
    return false;
}

StoreResult<void> Statement::exec()
{
    while (next()) { }
    if (m_error)
        return *m_error;
    return {};
}

void Statement::reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    m_error.reset();
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

bool Statement::isInteger(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_INTEGER;
}

qint64 Statement::int64(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

double Statement::real(int column) const
{
    return sqlite3_column_double(m_statement, column);
}

QString Statement::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    return textFromUtf8(QByteArrayView(data, size));
}

QByteArray Statement::blob(int column) const
{
    const auto *data = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    return data ? QByteArray(data, size) : QByteArray("", 0);
}

QVariant Statement::value(int column) const
{
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER: return int64(column);
    case SQLITE_FLOAT: return real(column);
    case SQLITE_TEXT: return text(column);
    case SQLITE_BLOB: return blob(column);
    default: return {};
    }
}

StoreResult<std::unique_ptr<Connection>> Connection::open(const QString &path, const OpenOptions &options)
{
    int flags = options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (options.createIfMissing && !options.readOnly)
        flags |= SQLITE_OPEN_CREATE;
    if (options.uri)
        flags |= SQLITE_OPEN_URI;
    // Each connection is used by one thread at a time; SQLite's own locking is not needed.
    flags |= SQLITE_OPEN_NOMUTEX;
    sqlite3 *db = nullptr;
    const QByteArray file = path.toUtf8();
    const int rc = sqlite3_open_v2(file.constData(), &db, flags,
                                   logWriteVfs(options.vfs.isEmpty() ? nullptr : options.vfs.constData()));
    if (rc != SQLITE_OK) {
        const QString detail = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        sqlite3_close_v2(db);
        return StoreError::fromSqlite(rc, detail);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, options.busyTimeoutMs);
    return std::unique_ptr<Connection>(new Connection(db));
}

Connection::~Connection()
{
    m_cache.clear();
    sqlite3_close_v2(m_db);
}

StoreResult<Statement> Connection::prepare(const QString &sql)
{
    sqlite3_stmt *statement = nullptr;
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &statement, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(statement);
        return lastError(rc);
    }
    return Statement(statement, this);
}

StoreResult<Statement> Connection::prepare(const QString &sql, const QVariantList &bindings)
{
    auto statement = prepare(sql);
    if (statement) {
        for (int i = 0; i < bindings.size(); ++i)
            statement->bind(i + 1, bindings[i]);
    }
    return statement;
}

StoreResult<StatementLease> Connection::cached(const QString &sql)
{
    auto found = m_cache.find(sql);
    if (found != m_cache.end()) {
        found.value()->reset();
        return StatementLease(found.value().get());
    }
    auto prepared = prepare(sql);
    if (!prepared)
        return prepared.error();
    auto statement = std::make_shared<Statement>(std::move(prepared).value());
    m_cache.insert(sql, statement);
    return StatementLease(statement.get());
}

StoreResult<void> Connection::exec(const QString &sql)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        QString detail = message ? QString::fromUtf8(message) : QString();
        sqlite3_free(message);
        return StoreError::fromSqlite(sqlite3_extended_errcode(m_db), detail);
    }
    return {};
}

StoreResult<qint64> Connection::queryInt64(const QString &sql)
{
    auto statement = prepare(sql);
    if (!statement)
        return statement.error();
    if (!statement->next()) {
        if (statement->hasError())
            return statement->error();
        return StoreError{StoreError::Code::SqliteError, 0, QStringLiteral("no result for ") + sql};
    }
    return statement->int64(0);
}

StoreError Connection::lastError(int resultCode) const
{
    return StoreError::fromSqlite(resultCode, QString::fromUtf8(sqlite3_errmsg(m_db)));
}

qint64 Connection::lastInsertRowId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int Connection::changes() const
{
    return sqlite3_changes(m_db);
}

Transaction::~Transaction()
{
    rollback();
}

StoreResult<void> Transaction::begin()
{
    auto result = m_connection.exec(QStringLiteral("BEGIN IMMEDIATE"));
    m_open = result.ok();
    return result;
}

StoreResult<void> Transaction::commit()
{
    auto result = m_connection.exec(QStringLiteral("COMMIT"));
    if (result)
        m_open = false;
    return result;
}

void Transaction::rollback()
{
    if (!m_open)
        return;
    m_open = false;
    // A failed statement may already have ended the transaction; only roll back what is open.
    if (!sqlite3_get_autocommit(m_connection.handle()))
        m_connection.exec(QStringLiteral("ROLLBACK"));
}

ReadSnapshot::~ReadSnapshot()
{
    if (m_open)
        m_connection.exec(QStringLiteral("RELEASE read_snapshot"));
}

StoreResult<void> ReadSnapshot::begin()
{
    auto result = m_connection.exec(QStringLiteral("SAVEPOINT read_snapshot"));
    m_open = result.ok();
    return result;
}

} // namespace sql
