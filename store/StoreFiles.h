#pragma once

#include "store/StoreError.h"

#include <QString>

// The store's files on disk: the database and its "-wal" and "-shm" companions. The
// history holds secrets, so the files are private to the user (0600) and so is the folder
// that holds them (0700).
namespace storefiles {

// The suffixes of the store's three files, the database first.
const QStringList &suffixes();

// Makes the folder (0700 when created). With `repairFolder`, an existing folder that
// others may read is narrowed to 0700 too; callers pass false for a folder they were
// handed rather than chose.
StoreResult<void> preparePrivateFolder(const QString &folder, bool repairFolder);
// Creates an empty database file with mode 0600 when none exists.
StoreResult<void> createPrivateFile(const QString &path);
// Narrows each existing store file that others may read to 0600.
void repairFileModes(const QString &path);
// A database whose header promises more pages than the file holds lost its end.
StoreResult<void> checkNotTruncated(const QString &path);

} // namespace storefiles
