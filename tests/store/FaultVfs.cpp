#include "FaultVfs.h"

#include <sqlite3.h>

#include <atomic>
#include <mutex>

namespace faultvfs {

namespace {

std::atomic<int> writeFault{0};
std::atomic<int> readFault{0};
std::atomic<int> openFault{0};
std::atomic<int> opensBeforeFault{0};

sqlite3_vfs *realVfs = nullptr;
sqlite3_vfs faultVfs;
sqlite3_io_methods faultMethods;

struct FaultFile {
    sqlite3_file base;
    sqlite3_file *real;
};

// Passes a file call on to the real file; the argument types come from the slot it fills.
template <auto method, typename Result, typename... Args>
Result passFile(sqlite3_file *file, Args... args)
{
    sqlite3_file *real = reinterpret_cast<FaultFile *>(file)->real;
    return (real->pMethods->*method)(real, args...);
}

template <auto method, typename Result, typename... Args>
Result failingWrite(sqlite3_file *file, Args... args)
{
    if (const int fault = writeFault.load())
        return fault;
    return passFile<method, Result>(file, args...);
}

int failingRead(sqlite3_file *file, void *buffer, int amount, sqlite3_int64 offset)
{
    if (const int fault = readFault.load())
        return fault;
    return passFile<&sqlite3_io_methods::xRead, int>(file, buffer, amount, offset);
}

int fileClose(sqlite3_file *file)
{
    sqlite3_file *real = reinterpret_cast<FaultFile *>(file)->real;
    return real->pMethods ? real->pMethods->xClose(real) : SQLITE_OK;
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

} // namespace

QByteArray install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        realVfs = sqlite3_vfs_find(nullptr);
        using M = sqlite3_io_methods;
        faultMethods = {};
        faultMethods.iVersion = 3;
        faultMethods.xClose = fileClose;
        faultMethods.xRead = failingRead;
        faultMethods.xWrite = failingWrite<&M::xWrite>;
        faultMethods.xTruncate = failingWrite<&M::xTruncate>;
        faultMethods.xSync = passFile<&M::xSync>;
        faultMethods.xFileSize = passFile<&M::xFileSize>;
        faultMethods.xLock = passFile<&M::xLock>;
        faultMethods.xUnlock = passFile<&M::xUnlock>;
        faultMethods.xCheckReservedLock = passFile<&M::xCheckReservedLock>;
        faultMethods.xFileControl = passFile<&M::xFileControl>;
        faultMethods.xSectorSize = passFile<&M::xSectorSize>;
        faultMethods.xDeviceCharacteristics = passFile<&M::xDeviceCharacteristics>;
        faultMethods.xShmMap = passFile<&M::xShmMap>;
        faultMethods.xShmLock = passFile<&M::xShmLock>;
        faultMethods.xShmBarrier = passFile<&M::xShmBarrier>;
        faultMethods.xShmUnmap = passFile<&M::xShmUnmap>;
        faultMethods.xFetch = passFile<&M::xFetch>;
        faultMethods.xUnfetch = passFile<&M::xUnfetch>;

        // The real layer's own functions do the rest; they read only what the copy keeps.
        faultVfs = *realVfs;
        faultVfs.pNext = nullptr;
        faultVfs.szOsFile = int(sizeof(FaultFile)) + realVfs->szOsFile;
        faultVfs.zName = "kn_fault";
        faultVfs.xOpen = vfsOpen;
        sqlite3_vfs_register(&faultVfs, 0);
    });
    return QByteArrayLiteral("kn_fault");
}

void failWrites(int sqliteCode)
{
    writeFault = sqliteCode;
}

void failReads(int sqliteCode)
{
    readFault = sqliteCode;
}

void failOpens(int sqliteCode, int opensLeft)
{
    opensBeforeFault = opensLeft;
    openFault = sqliteCode;
}

void reset()
{
    writeFault = 0;
    readFault = 0;
    openFault = 0;
    opensBeforeFault = 0;
}

} // namespace faultvfs
