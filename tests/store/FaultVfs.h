#pragma once

#include <QByteArray>

// An SQLite file-system layer over the default one that fails on request, to inject the
// faults a real disk gives: a full disk, an unwritable folder, an I/O error.
namespace faultvfs {

// Registers the layer (once) and returns its name for StoreDescription::vfs.
QByteArray install();

// Every write and truncation fails with this SQLite code (0: none).
void failWrites(int sqliteCode);
// Every read fails with this SQLite code (0: none).
void failReads(int sqliteCode);
// Opening a file fails with this code once `opensLeft` more opens have succeeded.
void failOpens(int sqliteCode, int opensLeft = 0);
// Back to no faults.
void reset();

} // namespace faultvfs
