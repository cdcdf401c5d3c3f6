#pragma once

namespace sql {

// The name of the file-system layer that writes each transaction to the write-ahead log in
// one go (registered on first use), or null when SQLite has no default file system.
const char *logWriteVfs();

} // namespace sql
