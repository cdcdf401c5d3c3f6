#include "store/StoreFiles.h"

#include "platform/log/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storefiles {

namespace {

StoreError fileError(const QString &what, const QString &path, int error)
{
    StoreError result;
    result.code = error == ENOSPC ? StoreError::Code::DiskFull
        : error == EROFS          ? StoreError::Code::ReadOnly
                                  : StoreError::Code::CannotOpen;
    result.message = QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(error)));
    return result;
}

quint32 readBigEndian32(const unsigned char *bytes)
{
    return (quint32(bytes[0]) << 24) | (quint32(bytes[1]) << 16) | (quint32(bytes[2]) << 8) | quint32(bytes[3]);
}

} // namespace

const QStringList &suffixes()
{
    static const QStringList list{QString(), QStringLiteral("-wal"), QStringLiteral("-shm")};
    return list;
}

StoreResult<void> preparePrivateFolder(const QString &folder, bool repairFolder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) {
        if (!QDir().mkpath(folder))
            return fileError(QStringLiteral("cannot create the folder"), folder, errno ? errno : EACCES);
        ::chmod(path.constData(), 0700);
        return {};
    }
    if (!S_ISDIR(info.st_mode))
        return fileError(QStringLiteral("not a folder:"), folder, ENOTDIR);
    if (repairFolder && (info.st_mode & 077) != 0) {
        if (::chmod(path.constData(), 0700) == 0)
            klog::notice(klog::Category::Persistence, QStringLiteral("store folder was readable by others; made private"));
    }
    return {};
}

StoreResult<void> createPrivateFile(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    if (errno == EEXIST)
        return {};
    return fileError(QStringLiteral("cannot create the store"), path, errno);
}

void repairFileModes(const QString &path)
{
    for (const QString &suffix : suffixes()) {
        const QByteArray file = QFile::encodeName(path + suffix);
        struct stat info {};
        if (::stat(file.constData(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if ((info.st_mode & 077) != 0 && ::chmod(file.constData(), 0600) == 0)
            klog::notice(klog::Category::Persistence, QStringLiteral("store file was readable by others; made private"));
    }
}

StoreResult<void> checkNotTruncated(const QString &path)
{
    // While a write-ahead log holds frames, the database file may legitimately be behind
    // its header; the log is replayed on open.
    const QFileInfo wal(path + QStringLiteral("-wal"));
    if (wal.exists() && wal.size() > 0)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};   // SQLite reports why when it opens the file
    const qint64 size = file.size();
    const QByteArray header = file.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return {};
    const auto *bytes = reinterpret_cast<const unsigned char *>(header.constData());
    quint32 pageSize = (quint32(bytes[16]) << 8) | quint32(bytes[17]);
    if (pageSize == 1)
        pageSize = 65536;
    const quint32 pageCount = readBigEndian32(bytes + 28);
    const quint32 changeCounter = readBigEndian32(bytes + 24);
    const quint32 validFor = readBigEndian32(bytes + 92);
    // The header's page count is only authoritative when written by the same change.
    if (pageSize < 512 || pageCount == 0 || changeCounter != validFor)
        return {};
    if (qint64(pageCount) * pageSize > size) {
        return StoreError{StoreError::Code::Corrupt, 11,
                          QStringLiteral("the store file is truncated (%1 of %2 bytes)")
                              .arg(size)
                              .arg(qint64(pageCount) * pageSize)};
    }
    return {};
}

} // namespace storefiles
