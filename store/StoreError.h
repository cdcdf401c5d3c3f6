#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

// Why a store operation failed. `sqliteCode` keeps SQLite's primary result code (0 when
// the failure did not come from SQLite), so callers can tell a full disk from a lock.
struct StoreError {
    enum class Code {
        NotADatabase,       // the file is not an SQLite database
        Corrupt,            // SQLite reports a malformed database image, or the file is truncated
        UnknownSchema,      // an SQLite database, but not one of ours, or of a newer version
        MigrationFailed,    // an older schema could not be brought up to date
        CannotOpen,         // the file or its folder cannot be opened or created
        Busy,               // another connection holds the lock for too long
        ReadOnly,
        DiskFull,
        IoError,
        SqliteError,        // any other SQLite failure
        NotLoaded,          // the store was never opened, or failed to open
        WrongQueue,         // called off the context's own queue
        InvalidRequest,     // an entity, attribute or value that the model does not have
        ObjectNotFound,     // the object is gone from the store
        ForeignStore,       // an object identifier of another store
    };

    Code code = Code::SqliteError;
    int sqliteCode = 0;
    QString message;

    // The text shown in logs and the store failure alert.
    QString localizedDescription() const;

    static StoreError fromSqlite(int resultCode, const QString &detail);
};

// Whether the error means the store file is damaged (repair by moving it aside) rather
// than unavailable for now (a lock, a full disk, a read-only folder).
bool isCorruptStoreError(const StoreError &error);

// The value of a fallible store operation, or why it failed.
template<typename T>
class StoreResult
{
public:
    StoreResult(T value) : m_value(std::move(value)) { }
    StoreResult(StoreError error) : m_value(std::move(error)) { }

    bool ok() const { return std::holds_alternative<T>(m_value); }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<T>(m_value); }
    T &value() & { return std::get<T>(m_value); }
    // By value, so that `for (auto &x : *context->fetch(r))` does not outlive its result.
    T value() && { return std::get<T>(std::move(m_value)); }
    const T &operator*() const & { return value(); }
    T &operator*() & { return value(); }
    T operator*() && { return std::get<T>(std::move(m_value)); }
    const T *operator->() const { return &value(); }
    T *operator->() { return &value(); }

    const StoreError &error() const { return std::get<StoreError>(m_value); }

private:
    std::variant<T, StoreError> m_value;
};

// An operation that yields nothing but may fail.
template<>
class StoreResult<void>
{
public:
    StoreResult() = default;
    StoreResult(StoreError error) : m_error(std::move(error)) { }

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const StoreError &error() const { return *m_error; }

private:
    std::optional<StoreError> m_error;
};
