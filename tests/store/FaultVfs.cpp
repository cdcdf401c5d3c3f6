#include "FaultVfs.h"

#include <sqlite3.h>

#include <atomic>
#include <mutex>

namespace faultvfs {

namespace {

std::atomic<int> writeFault{0};
std::atomic<int> openFault{0};
std::atomic<int> opensBeforeFault{0};

sqlite3_vfs *realVfs = nullptr;
sqlite3_vfs faultVfs;
sqlite3_io_methods faultMethods;

struct FaultFile {
    sqlite3_file base;
    sqlite3_file *real;
};

sqlite3_file *realOf(sqlite3_file *file)
{
    return reinterpret_cast<FaultFile *>(file)->real;
}

int fileClose(sqlite3_file *file)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods ? real->pMethods->xClose(real) : SQLITE_OK;
}

int fileRead(sqlite3_file *file, void *buffer, int amount, sqlite3_int64 offset)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xRead(real, buffer, amount, offset);
}

int fileWrite(sqlite3_file *file, const void *buffer, int amount, sqlite3_int64 offset)
{
    if (const int fault = writeFault.load())
        return fault;
    sqlite3_file *real = realOf(file);
    return real->pMethods->xWrite(real, buffer, amount, offset);
}

int fileTruncate(sqlite3_file *file, sqlite3_int64 size)
{
    if (const int fault = writeFault.load())
        return fault;
    sqlite3_file *real = realOf(file);
    return real->pMethods->xTruncate(real, size);
}

int fileSync(sqlite3_file *file, int flags)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xSync(real, flags);
}

int fileSize(sqlite3_file *file, sqlite3_int64 *size)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xFileSize(real, size);
}

int fileLock(sqlite3_file *file, int lock)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xLock(real, lock);
}

int fileUnlock(sqlite3_file *file, int lock)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xUnlock(real, lock);
}

int fileCheckReservedLock(sqlite3_file *file, int *result)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xCheckReservedLock(real, result);
}

int fileControl(sqlite3_file *file, int op, void *argument)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xFileControl(real, op, argument);
}

int fileSectorSize(sqlite3_file *file)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xSectorSize(real);
}

int fileDeviceCharacteristics(sqlite3_file *file)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xDeviceCharacteristics(real);
}

int fileShmMap(sqlite3_file *file, int page, int size, int extend, void volatile **memory)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xShmMap(real, page, size, extend, memory);
}

int fileShmLock(sqlite3_file *file, int offset, int n, int flags)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xShmLock(real, offset, n, flags);
}

void fileShmBarrier(sqlite3_file *file)
{
    sqlite3_file *real = realOf(file);
    real->pMethods->xShmBarrier(real);
}

int fileShmUnmap(sqlite3_file *file, int deleteFlag)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xShmUnmap(real, deleteFlag);
}

int fileFetch(sqlite3_file *file, sqlite3_int64 offset, int amount, void **pointer)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xFetch(real, offset, amount, pointer);
}

int fileUnfetch(sqlite3_file *file, sqlite3_int64 offset, void *pointer)
{
    sqlite3_file *real = realOf(file);
    return real->pMethods->xUnfetch(real, offset, pointer);
}

int vfsOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
{
    auto *fault = reinterpret_cast<FaultFile *>(file);
    fault->base.pMethods = nullptr;
    if (const int code = openFault.load()) {
        if (opensBeforeFault.fetch_sub(1) <= 0)
            return code;
    }
    fault->real = reinterpret_cast<sqlite3_file *>(fault + 1);
    const int rc = realVfs->xOpen(realVfs, name, fault->real, flags, outFlags);
    if (rc == SQLITE_OK)
        fault->base.pMethods = &faultMethods;
    return rc;
}

int vfsDelete(sqlite3_vfs *, const char *name, int syncDirectory)
{
    return realVfs->xDelete(realVfs, name, syncDirectory);
}

int vfsAccess(sqlite3_vfs *, const char *name, int flags, int *result)
{
    return realVfs->xAccess(realVfs, name, flags, result);
}

int vfsFullPathname(sqlite3_vfs *, const char *name, int size, char *out)
{
    return realVfs->xFullPathname(realVfs, name, size, out);
}

int vfsRandomness(sqlite3_vfs *, int size, char *out)
{
    return realVfs->xRandomness(realVfs, size, out);
}

int vfsSleep(sqlite3_vfs *, int microseconds)
{
    return realVfs->xSleep(realVfs, microseconds);
}

int vfsCurrentTime(sqlite3_vfs *, double *now)
{
    return realVfs->xCurrentTime(realVfs, now);
}

int vfsGetLastError(sqlite3_vfs *, int size, char *out)
{
    return realVfs->xGetLastError(realVfs, size, out);
}

int vfsCurrentTimeInt64(sqlite3_vfs *, sqlite3_int64 *now)
{
    return realVfs->xCurrentTimeInt64(realVfs, now);
}

} // namespace

QByteArray install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        realVfs = sqlite3_vfs_find(nullptr);
        faultMethods = {};
        faultMethods.iVersion = 3;
        faultMethods.xClose = fileClose;
        faultMethods.xRead = fileRead;
        faultMethods.xWrite = fileWrite;
        faultMethods.xTruncate = fileTruncate;
        faultMethods.xSync = fileSync;
        faultMethods.xFileSize = fileSize;
        faultMethods.xLock = fileLock;
        faultMethods.xUnlock = fileUnlock;
        faultMethods.xCheckReservedLock = fileCheckReservedLock;
        faultMethods.xFileControl = fileControl;
        faultMethods.xSectorSize = fileSectorSize;
        faultMethods.xDeviceCharacteristics = fileDeviceCharacteristics;
        faultMethods.xShmMap = fileShmMap;
        faultMethods.xShmLock = fileShmLock;
        faultMethods.xShmBarrier = fileShmBarrier;
        faultMethods.xShmUnmap = fileShmUnmap;
        faultMethods.xFetch = fileFetch;
        faultMethods.xUnfetch = fileUnfetch;

        faultVfs = {};
        faultVfs.iVersion = 2;
        faultVfs.szOsFile = int(sizeof(FaultFile)) + realVfs->szOsFile;
        faultVfs.mxPathname = realVfs->mxPathname;
        faultVfs.zName = "kn_fault";
        faultVfs.xOpen = vfsOpen;
        faultVfs.xDelete = vfsDelete;
        faultVfs.xAccess = vfsAccess;
        faultVfs.xFullPathname = vfsFullPathname;
        faultVfs.xRandomness = vfsRandomness;
        faultVfs.xSleep = vfsSleep;
        faultVfs.xCurrentTime = vfsCurrentTime;
        faultVfs.xGetLastError = vfsGetLastError;
        faultVfs.xCurrentTimeInt64 = vfsCurrentTimeInt64;
        sqlite3_vfs_register(&faultVfs, 0);
    });
    return QByteArrayLiteral("kn_fault");
}

void failWrites(int sqliteCode)
{
    writeFault = sqliteCode;
}

void failOpens(int sqliteCode, int opensLeft)
{
    opensBeforeFault = opensLeft;
    openFault = sqliteCode;
}

void reset()
{
    writeFault = 0;
    openFault = 0;
    opensBeforeFault = 0;
}

} // namespace faultvfs
