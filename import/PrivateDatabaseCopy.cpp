#include "import/PrivateDatabaseCopy.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString folderPrefix = QStringLiteral("paste-import-");
// The files beside a database that SQLite needs to read it as last committed: the log that
// holds committed data not yet in it, or the journal of a transaction cut short, whose
// changes are already in the file and are rolled back in the copy.
const QStringList companionSuffixes = {QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")};

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The folders of the copies alive in this process, for removeAllNow().
struct LiveCopies {
    QMutex lock;
    QSet<QString> folders;
};

LiveCopies &liveCopies()
{
    static LiveCopies copies;
    return copies;
}

FileSystemError copyError(const QString &source, const QString &reason)
{
    return {QStringLiteral("The file \u201C%1\u201D couldn't be copied: %2.")
                .arg(QFileInfo(source).fileName(), reason)};
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) { }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
    // Closes now, reporting a failed close (a late write error) as errno.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// Copies a regular file into a new file that only the user may read. Opening without
// blocking keeps a FIFO planted in the folder from hanging the import; anything but a
// regular file (a device, a folder) is refused before a byte is read.
std::optional<FileSystemError> copyPrivately(const QString &source, const QString &destination)
{
    const FileDescriptor in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.get() < 0)
        return copyError(source, systemReason(errno));
    struct stat status {};
    if (::fstat(in.get(), &status) != 0)
        return copyError(source, systemReason(errno));
    if (!S_ISREG(status.st_mode))
        return copyError(source, QStringLiteral("it is not a regular file"));

    FileDescriptor out(::open(QFile::encodeName(destination).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (out.get() < 0)
        return copyError(source, systemReason(errno));
    constexpr ssize_t chunk = 1 << 20;
    QByteArray buffer(chunk, Qt::Uninitialized);
    for (;;) {
        const ssize_t read = ::read(in.get(), buffer.data(), size_t(chunk));
        if (read < 0) {
            if (errno == EINTR)
                continue;
            return copyError(source, systemReason(errno));
        }
        if (read == 0)
            break;
        if (!writeAll(out.get(), buffer.constData(), read))
            return copyError(source, systemReason(errno));
    }
    if (!out.close())
        return copyError(source, systemReason(errno));
    return std::nullopt;
}

// Whether a rollback journal ends with the record that names a super-journal (a transaction
// over several databases): its last eight bytes are the journal's magic number.
bool namesSuperJournal(const QString &journal)
{
    static constexpr char magic[] = {'\xd9', '\xd5', '\x05', '\xf9', '\x20', '\xa1', '\x63', '\xd7'};
    QFile file(journal);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 16 || !file.seek(file.size() - 8))
        return false;
    return file.read(8) == QByteArray(magic, 8);
}

} // namespace

PrivateDatabaseCopy::~PrivateDatabaseCopy()
{
    remove();
}

std::optional<FileSystemError> PrivateDatabaseCopy::make(const QString &databasePath)
{
    const QString temporary = QDir::tempPath();
    if (!QDir().mkpath(temporary))
        return FileSystemError{QStringLiteral("The temporary folder \u201C%1\u201D couldn't be created.").arg(temporary)};
    const QString folder = QDir(temporary).filePath(folderPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    if (::mkdir(QFile::encodeName(folder).constData(), S_IRWXU) != 0)
        return FileSystemError{QStringLiteral("The folder \u201C%1\u201D couldn't be created: %2.")
                                   .arg(folder, systemReason(errno))};
    m_folder = folder;
    {
        const QMutexLocker locker(&liveCopies().lock);
        liveCopies().folders.insert(folder);
    }

    const QString copy = QDir(folder).filePath(QFileInfo(databasePath).fileName());
    if (auto failed = copyPrivately(databasePath, copy))
        return failed;
    for (const QString &suffix : companionSuffixes) {
        if (QFileInfo::exists(databasePath + suffix) && copyPrivately(databasePath + suffix, copy + suffix))
            QFile::remove(copy + suffix); // a half-copied log would only mislead SQLite
    }
    // Rolling such a journal back, SQLite opens the super-journal by the path written in it,
    // anywhere, and deletes it when no journal it lists points back. Its transaction counts
    // as committed once the super-journal is gone, as here it is: the journal goes instead.
    const QString journal = copy + QStringLiteral("-journal");
    if (namesSuperJournal(journal))
        QFile::remove(journal);
    m_databasePath = copy;
    return std::nullopt;
}

void PrivateDatabaseCopy::remove()
{
    if (m_folder.isEmpty())
        return;
    {
        const QMutexLocker locker(&liveCopies().lock);
        liveCopies().folders.remove(m_folder);
    }
    QDir(m_folder).removeRecursively();
    m_folder.clear();
    m_databasePath.clear();
}

void PrivateDatabaseCopy::removeAllNow()
{
    // Held while removing, so a copy going at the same time waits rather than races.
    const QMutexLocker locker(&liveCopies().lock);
    for (const QString &folder : std::as_const(liveCopies().folders))
        QDir(folder).removeRecursively();
    liveCopies().folders.clear();
}
