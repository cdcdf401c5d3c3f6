#include "import/PasteFolder.h"

#include <QDir>
#include <QFileInfo>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

const QString pasteFolderUnderHome = QStringLiteral("Library/Containers/com.wiheads.paste/Data/Library/Application Support/Paste");

// The home folder of the password database entry; $HOME may point elsewhere (a sandbox,
// a test). Falls back to Qt's home when there is no entry or it names no home.
QString realHomeFolder()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 16384;
    std::vector<char> buffer(size_t(size), '\0');
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found
        && found->pw_dir && found->pw_dir[0] != '\0')
        return QFile::decodeName(found->pw_dir);
    return QDir::homePath();
}

} // namespace

QString defaultPasteFolder()
{
    return QDir(realHomeFolder()).filePath(pasteFolderUnderHome);
}

const QStringList &pasteDatabaseFileNames()
{
    static const QStringList names = {QStringLiteral("db.sqlite"), QStringLiteral("Paste.db")};
    return names;
}

std::optional<QString> locateDatabase(const QString &folder)
{
    for (const QString &name : pasteDatabaseFileNames()) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path))
            return path;
    }
    return std::nullopt;
}

QString externalBlobFolder(const QString &databasePath)
{
    const QFileInfo database(databasePath);
    // "Paste.db" -> ".Paste_SUPPORT"; only the last extension goes.
    const QString support = QLatin1Char('.') + database.completeBaseName() + QStringLiteral("_SUPPORT");
    return database.dir().filePath(support + QStringLiteral("/_EXTERNAL_DATA"));
}
