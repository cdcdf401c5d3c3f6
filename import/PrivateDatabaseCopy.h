#pragma once

#include "import/PasteReadError.h"

#include <QString>

#include <optional>

// A copy of Paste's database (with its write-ahead log and shared-memory index when they
// exist) in a new folder of its own under the temporary directory, private to the user.
// SQLite only ever touches the copy, so Paste's files are never locked nor written.
// The folder and everything in it go when the object does, on every path.
class PrivateDatabaseCopy
{
public:
    PrivateDatabaseCopy() = default;
    ~PrivateDatabaseCopy();
    PrivateDatabaseCopy(const PrivateDatabaseCopy &) = delete;
    PrivateDatabaseCopy &operator=(const PrivateDatabaseCopy &) = delete;

    // Makes the folder ("paste-import-" and a new upper-case UUID, mode 0700) and copies
    // the database into it under its own name (mode 0600). A failure of the log or index
    // copies is ignored: SQLite then reads the database as last checkpointed.
    std::optional<FileSystemError> make(const QString &databasePath);

    // Removes every copy of this process that still exists, at once. For a process about to
    // end without unwinding (a second Ctrl+C), which would otherwise leave them behind.
    static void removeAllNow();

    // The copy's path; empty until make() succeeded.
    QString databasePath() const { return m_databasePath; }
    QString folder() const { return m_folder; }

private:
    void remove();

    QString m_folder;
    QString m_databasePath;
};
