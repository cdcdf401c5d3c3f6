#include "store/sql/LogWriteVfs.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace sql {

namespace {

// SQLite writes each frame of the write-ahead log as two writes, its 24-byte header and then
// its page: two system calls for every 4 KB saved, a fifth of a batch save's time. This layer
// over the platform's file system gathers the consecutive writes of one transaction to the
// log and hands them to the system as one. A commit frame ends the gathering, so a commit is
// in the file before SQLite publishes it to other connections, and a failed write is
// reported by the write of the commit frame. Anything else that could see the file (reading
// it, its size, a sync, a truncation, closing it) also writes out first.
constexpr const char *vfsName = "kestrelnote-log-writes";
constexpr size_t frameHeaderSize = 24;
// The most the platform file system writes in one call.
constexpr size_t largestGathering = 0x1ffff;

sqlite3_vfs *platformVfs = nullptr;
sqlite3_vfs layerVfs;
sqlite3_io_methods layerMethods;

struct LayerFile {
    sqlite3_file base;
    sqlite3_file *real = nullptr;
    bool isLog = false;
    bool writeNextOut = false;
    sqlite3_int64 gatheredOffset = 0;
    std::vector<char> gathered;
};

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

int fileClose(sqlite3_file *base)
{
    LayerFile *file = layerOf(base);
    const int written = writeOut(file);
    const int closed = file->real->pMethods ? file->real->pMethods->xClose(file->real) : SQLITE_OK;
    file->~LayerFile();
    return written != SQLITE_OK ? written : closed;
}

int vfsOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *base, int flags, int *outFlags)
{
    auto *file = new (base) LayerFile;
    file->real = reinterpret_cast<sqlite3_file *>(file + 1);
    file->isLog = (flags & SQLITE_OPEN_WAL) != 0;
    const int rc = platformVfs->xOpen(platformVfs, name, file->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        if (file->real->pMethods)
            file->real->pMethods->xClose(file->real);
        file->~LayerFile();
        base->pMethods = nullptr;
        return rc;
    }
    // The real file's methods decide which optional calls exist.
    base->pMethods = &layerMethods;
    return SQLITE_OK;
}

void registerLayer()
{
    platformVfs = sqlite3_vfs_find(nullptr);
    if (!platformVfs)
        return;
    layerVfs = *platformVfs;
    layerVfs.szOsFile = int(sizeof(LayerFile)) + platformVfs->szOsFile;
    layerVfs.zName = vfsName;
    layerVfs.pNext = nullptr;
    layerVfs.xOpen = vfsOpen;
    // Everything about paths, time and randomness is the platform's.
    layerVfs.xDelete = [](sqlite3_vfs *, const char *name, int syncDir) {
        return platformVfs->xDelete(platformVfs, name, syncDir);
    };
    layerVfs.xAccess = [](sqlite3_vfs *, const char *name, int flags, int *result) {
        return platformVfs->xAccess(platformVfs, name, flags, result);
    };
    layerVfs.xFullPathname = [](sqlite3_vfs *, const char *name, int size, char *out) {
        return platformVfs->xFullPathname(platformVfs, name, size, out);
    };
    layerVfs.xDlOpen = nullptr;
    layerVfs.xDlError = nullptr;
    layerVfs.xDlSym = nullptr;
    layerVfs.xDlClose = nullptr;
    layerVfs.xRandomness = [](sqlite3_vfs *, int size, char *out) {
        return platformVfs->xRandomness(platformVfs, size, out);
    };
    layerVfs.xSleep = [](sqlite3_vfs *, int microseconds) { return platformVfs->xSleep(platformVfs, microseconds); };
    layerVfs.xCurrentTime = [](sqlite3_vfs *, double *now) { return platformVfs->xCurrentTime(platformVfs, now); };
    layerVfs.xGetLastError = [](sqlite3_vfs *, int size, char *out) {
        return platformVfs->xGetLastError(platformVfs, size, out);
    };
    layerVfs.xCurrentTimeInt64 = [](sqlite3_vfs *, sqlite3_int64 *now) {
        return platformVfs->xCurrentTimeInt64(platformVfs, now);
    };
    layerVfs.xSetSystemCall = nullptr;
    layerVfs.xGetSystemCall = nullptr;
    layerVfs.xNextSystemCall = nullptr;
    layerVfs.iVersion = 2;

    using F = sqlite3_io_methods;
    layerMethods.iVersion = 3;
    layerMethods.xClose = fileClose;
    layerMethods.xRead = afterWriteOut<&F::xRead, int, void *, int, sqlite3_int64>;
    layerMethods.xWrite = fileWrite;
    layerMethods.xTruncate = afterWriteOut<&F::xTruncate, int, sqlite3_int64>;
    layerMethods.xSync = afterWriteOut<&F::xSync, int, int>;
    layerMethods.xFileSize = afterWriteOut<&F::xFileSize, int, sqlite3_int64 *>;
    layerMethods.xLock = passOn<&F::xLock, int, int>;
    layerMethods.xUnlock = passOn<&F::xUnlock, int, int>;
    layerMethods.xCheckReservedLock = passOn<&F::xCheckReservedLock, int, int *>;
    layerMethods.xFileControl = afterWriteOut<&F::xFileControl, int, int, void *>;
    layerMethods.xSectorSize = passOn<&F::xSectorSize, int>;
    layerMethods.xDeviceCharacteristics = passOn<&F::xDeviceCharacteristics, int>;
    layerMethods.xShmMap = passOn<&F::xShmMap, int, int, int, int, void volatile **>;
    layerMethods.xShmLock = passOn<&F::xShmLock, int, int, int, int>;
    layerMethods.xShmBarrier = passOn<&F::xShmBarrier, void>;
    layerMethods.xShmUnmap = passOn<&F::xShmUnmap, int, int>;
    layerMethods.xFetch = passOn<&F::xFetch, int, sqlite3_int64, int, void **>;
    layerMethods.xUnfetch = passOn<&F::xUnfetch, int, sqlite3_int64, void *>;
    sqlite3_vfs_register(&layerVfs, 0);
}

} // namespace

const char *logWriteVfs()
{
    static std::once_flag once;
    std::call_once(once, registerLayer);
    return platformVfs ? vfsName : nullptr;
}

} // namespace sql
