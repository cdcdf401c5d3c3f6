#include "import/PasteDatabaseReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

// A whole Paste database file, read as an import would read it: copied, opened, checked,
// streamed with a limit. Whatever the bytes, the read ends with a result.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir folder;
    QFile database(folder.filePath(QStringLiteral("db.sqlite")));
    if (!database.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    database.write(reinterpret_cast<const char *>(data), qint64(size));
    database.close();
    const PasteDatabaseReader reader(folder.path());
    reader.readClips(100, [] { return false; }, [](PasteDatabaseReader::Progress) {},
                     [](PasteClip &&) { return std::optional<ClipError>(); });
    return 0;
}
