#include "store/StoreError.h"

#include <sqlite3.h>

QString StoreError::localizedDescription() const
{
    if (message.isEmpty())
        return sqliteCode != 0 ? QString::fromUtf8(sqlite3_errstr(sqliteCode))
                               : QStringLiteral("unknown store error");
    return message;
}

StoreError StoreError::fromSqlite(int resultCode, const QString &detail)
{
    const int primary = resultCode & 0xff;
    Code code = Code::SqliteError;
    switch (primary) {
    case SQLITE_NOTADB: code = Code::NotADatabase; break;
    case SQLITE_CORRUPT: code = Code::Corrupt; break;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH: code = Code::CannotOpen; break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: code = Code::Busy; break;
    case SQLITE_READONLY: code = Code::ReadOnly; break;
    case SQLITE_FULL: code = Code::DiskFull; break;
    case SQLITE_IOERR: code = Code::IoError; break;
    default: break;
    }
    QString text = detail;
    if (text.isEmpty())
        text = QString::fromUtf8(sqlite3_errstr(resultCode));
    return StoreError{code, primary, text};
}

bool isCorruptStoreError(const StoreError &error)
{
    switch (error.code) {
    case StoreError::Code::NotADatabase:
    case StoreError::Code::Corrupt:
    case StoreError::Code::UnknownSchema:
        return true;
    case StoreError::Code::MigrationFailed:
        // A migration that failed for lack of space or access leaves the old store intact;
        // only a store whose contents the migration could not read is damaged.
        return error.sqliteCode == SQLITE_CORRUPT || error.sqliteCode == SQLITE_NOTADB
            || error.sqliteCode == 0;
    default:
        return false;
    }
}
