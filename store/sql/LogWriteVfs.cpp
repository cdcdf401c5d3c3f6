#include "store/sql/LogWriteVfs.h"

#include <sqlite3.h>

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace sql {

namespace {

// SQLite writes each frame of the write-ahead log as two writes, its 24-byte header and then
// its page: two system calls for every 4 KB saved, a fifth of a batch save's time. This layer
// over another file system gathers the consecutive writes of one transaction to the log and
// hands them down as one. A commit frame ends the gathering, so a commit is
// in the file before SQLite publishes it to other connections, and a failed write is
// reported by the write of the commit frame. Anything else that could see the file (reading
// it, its size, a sync, a truncation, closing it) also writes out first.
constexpr size_t frameHeaderSize = 24;
// The most SQLite's Unix file system writes in one call.
constexpr size_t largestGathering = 0x1ffff;

// One method table for each version a file below may have, so the layer offers no call
// the file below lacks.
sqlite3_io_methods layerMethods[3];

struct LayerFile {
    sqlite3_file base;
    sqlite3_file *real = nullptr;
    bool isLog = false;
    bool writeNextOut = false;
    sqlite3_int64 gatheredOffset = 0;
    std::vector<char> gathered;
    // One connection's database file and its log know each other: the log's write lock is
    // taken and released on the database file.
    LayerFile *log = nullptr;
    LayerFile *database = nullptr;
    const char *databaseName = nullptr;
};

// The database files open through the layer, by the name SQLite opened them with: the name
// it opens their log with leads back to it (sqlite3_filename_database).
std::mutex databasesMutex;
std::map<const char *, LayerFile *> openDatabases;

LayerFile *layerOf(sqlite3_file *file)
{
    return reinterpret_cast<LayerFile *>(file);
}

int writeOut(LayerFile *file)
{
    if (file->gathered.empty())
        return SQLITE_OK;
    const int rc = file->real->pMethods->xWrite(file->real, file->gathered.data(), int(file->gathered.size()),
                                                file->gatheredOffset);
    file->gathered.clear();
    return rc;
}

// A frame header whose "database size after commit" field is set starts a commit frame.
bool isCommitFrameHeader(const void *data, int amount)
{
    if (amount != int(frameHeaderSize))
        return false;
    std::uint32_t pagesAfterCommit = 0;
    std::memcpy(&pagesAfterCommit, static_cast<const char *>(data) + 4, sizeof pagesAfterCommit);
    return pagesAfterCommit != 0;
}

int fileWrite(sqlite3_file *base, const void *data, int amount, sqlite3_int64 offset)
{
    LayerFile *file = layerOf(base);
    if (!file->isLog)
        return file->real->pMethods->xWrite(file->real, data, amount, offset);
    const bool follows = offset == file->gatheredOffset + sqlite3_int64(file->gathered.size());
    if (!file->gathered.empty() && (!follows || file->gathered.size() + size_t(amount) > largestGathering)) {
        if (const int rc = writeOut(file); rc != SQLITE_OK)
            return rc;
    }
    if (file->gathered.empty())
        file->gatheredOffset = offset;
    const auto *bytes = static_cast<const char *>(data);
    file->gathered.insert(file->gathered.end(), bytes, bytes + amount);
    // A commit frame's header goes out at once, and so does the page that follows it: after
    // a commit SQLite may rewrite only frame headers (their checksums), never a page.
    const bool commitHeader = isCommitFrameHeader(data, amount);
    if (!commitHeader && !file->writeNextOut)
        return SQLITE_OK;
    file->writeNextOut = commitHeader;
    return writeOut(file);
}

// Passes a call on to the real file, writing out what was gathered first.
template <auto method, typename Result, typename... Args>
Result afterWriteOut(sqlite3_file *base, Args... args)
{
    LayerFile *file = layerOf(base);
    if (const int rc = writeOut(file); rc != SQLITE_OK)
        return rc;
    return (file->real->pMethods->*method)(file->real, args...);
}

template <auto method, typename Result, typename... Args>
Result passOn(sqlite3_file *base, Args... args)
{
    sqlite3_file *real = layerOf(base)->real;
    return (real->pMethods->*method)(real, args...);
}

// Frames still gathered when the log's write lock goes are a rolled-back transaction's (a
// commit writes everything out): out they go while no other connection can write there yet.
// Held on, they would later overwrite what the next writer commits at the same place.
int fileShmLock(sqlite3_file *base, int offset, int n, int flags)
{
    LayerFile *file = layerOf(base);
    constexpr int writeLock = 0;
    if ((flags & SQLITE_SHM_UNLOCK) && offset == writeLock && file->log)
        writeOut(file->log);
    return file->real->pMethods->xShmLock(file->real, offset, n, flags);
}

// The same when the database file's own lock goes (exclusive locking mode takes no log lock).
int fileUnlock(sqlite3_file *base, int level)
{
    LayerFile *file = layerOf(base);
    if (file->log)
        writeOut(file->log);
    return file->real->pMethods->xUnlock(file->real, level);
}

int fileClose(sqlite3_file *base)
{
    LayerFile *file = layerOf(base);
    if (file->databaseName) {
        const std::lock_guard lock(databasesMutex);
        if (const auto found = openDatabases.find(file->databaseName); found != openDatabases.end() && found->second == file)
            openDatabases.erase(found);
    }
    if (file->log)
        file->log->database = nullptr;
    if (file->database)
        file->database->log = nullptr;
    const int written = writeOut(file);
    const int closed = file->real->pMethods ? file->real->pMethods->xClose(file->real) : SQLITE_OK;
    file->~LayerFile();
    return written != SQLITE_OK ? written : closed;
}

sqlite3_vfs *below(sqlite3_vfs *layer)
{
    return static_cast<sqlite3_vfs *>(layer->pAppData);
}

int vfsOpen(sqlite3_vfs *layer, sqlite3_filename name, sqlite3_file *base, int flags, int *outFlags)
{
    auto *file = new (base) LayerFile;
    file->real = reinterpret_cast<sqlite3_file *>(file + 1);
    file->isLog = (flags & SQLITE_OPEN_WAL) != 0;
    const int rc = below(layer)->xOpen(below(layer), name, file->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (file->real->pMethods)
            file->real->pMethods->xClose(file->real);
        file->~LayerFile();
        base->pMethods = nullptr;
        return rc;
    }
    base->pMethods = &layerMethods[std::clamp(file->real->pMethods->iVersion, 1, 3) - 1];
    if (name && (flags & SQLITE_OPEN_MAIN_DB)) {
        const std::lock_guard lock(databasesMutex);
        file->databaseName = name;
        openDatabases[name] = file;
    } else if (name && file->isLog) {
        const std::lock_guard lock(databasesMutex);
        const auto database = openDatabases.find(sqlite3_filename_database(name));
        if (database != openDatabases.end()) {
            file->database = database->second;
            database->second->log = file;
        }
    }
    return SQLITE_OK;
}

void fillMethods()
{
    using F = sqlite3_io_methods;
    sqlite3_io_methods methods{};
    methods.xClose = fileClose;
    methods.xRead = afterWriteOut<&F::xRead, int, void *, int, sqlite3_int64>;
    methods.xWrite = fileWrite;
    methods.xTruncate = afterWriteOut<&F::xTruncate, int, sqlite3_int64>;
    methods.xSync = afterWriteOut<&F::xSync, int, int>;
    methods.xFileSize = afterWriteOut<&F::xFileSize, int, sqlite3_int64 *>;
    methods.xLock = passOn<&F::xLock, int, int>;
    methods.xUnlock = fileUnlock;
    methods.xCheckReservedLock = passOn<&F::xCheckReservedLock, int, int *>;
    methods.xFileControl = afterWriteOut<&F::xFileControl, int, int, void *>;
    methods.xSectorSize = passOn<&F::xSectorSize, int>;
    methods.xDeviceCharacteristics = passOn<&F::xDeviceCharacteristics, int>;
    methods.xShmMap = passOn<&F::xShmMap, int, int, int, int, void volatile **>;
    methods.xShmLock = fileShmLock;
    methods.xShmBarrier = passOn<&F::xShmBarrier, void>;
    methods.xShmUnmap = passOn<&F::xShmUnmap, int, int>;
    methods.xFetch = passOn<&F::xFetch, int, sqlite3_int64, int, void **>;
    methods.xUnfetch = passOn<&F::xUnfetch, int, sqlite3_int64, void *>;
    for (int version = 1; version <= 3; ++version) {
        layerMethods[version - 1] = methods;
        layerMethods[version - 1].iVersion = version;
    }
}

struct Layer {
    QByteArray name;
    sqlite3_vfs vfs{};
};

// A layer over another file system: its own open, the rest (paths, time, randomness) passed
// on to the file system below.
std::unique_ptr<Layer> makeLayer(sqlite3_vfs *lower)
{
    auto layer = std::make_unique<Layer>();
    layer->name = QByteArrayLiteral("kestrelnote-log-writes-").append(lower->zName);
    sqlite3_vfs &vfs = layer->vfs;
    vfs.iVersion = std::min(lower->iVersion, 2);
    vfs.szOsFile = int(sizeof(LayerFile)) + lower->szOsFile;
    vfs.mxPathname = lower->mxPathname;
    vfs.zName = layer->name.constData();
    vfs.pAppData = lower;
    vfs.xOpen = vfsOpen;
    vfs.xDelete = [](sqlite3_vfs *self, const char *name, int syncDir) {
        return below(self)->xDelete(below(self), name, syncDir);
    };
    vfs.xAccess = [](sqlite3_vfs *self, const char *name, int flags, int *result) {
        return below(self)->xAccess(below(self), name, flags, result);
    };
    vfs.xFullPathname = [](sqlite3_vfs *self, const char *name, int size, char *out) {
        return below(self)->xFullPathname(below(self), name, size, out);
    };
    vfs.xRandomness = [](sqlite3_vfs *self, int size, char *out) {
        return below(self)->xRandomness(below(self), size, out);
    };
    vfs.xSleep = [](sqlite3_vfs *self, int microseconds) { return below(self)->xSleep(below(self), microseconds); };
    vfs.xCurrentTime = [](sqlite3_vfs *self, double *now) { return below(self)->xCurrentTime(below(self), now); };
    vfs.xGetLastError = [](sqlite3_vfs *self, int size, char *out) {
        return below(self)->xGetLastError(below(self), size, out);
    };
    if (vfs.iVersion >= 2) {
        vfs.xCurrentTimeInt64 = [](sqlite3_vfs *self, sqlite3_int64 *now) {
            return below(self)->xCurrentTimeInt64(below(self), now);
        };
    }
    return layer;
}

} // namespace

const char *logWriteVfs(const char *lowerName)
{
    static std::mutex mutex;
    static std::map<QByteArray, std::unique_ptr<Layer>> layers;
    static std::once_flag methodsFilled;
    std::call_once(methodsFilled, fillMethods);
    sqlite3_vfs *lower = sqlite3_vfs_find(lowerName);
    if (!lower)
        return lowerName;
    const std::lock_guard lock(mutex);
    auto &layer = layers[QByteArray(lower->zName)];
    if (!layer) {
        layer = makeLayer(lower);
        sqlite3_vfs_register(&layer->vfs, 0);
    }
    return layer->name.constData();
}

} // namespace sql
