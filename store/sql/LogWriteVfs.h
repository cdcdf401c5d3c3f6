#pragma once

namespace sql {

// The name of the file-system layer that writes each transaction to the write-ahead log in
// one go, over the named file system (null: SQLite's default); registered on first use.
// Gives the name asked for when there is no such file system, for SQLite to report.
const char *logWriteVfs(const char *lowerName);

} // namespace sql
