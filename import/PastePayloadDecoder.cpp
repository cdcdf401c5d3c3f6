// Blob to entries: the external-storage marker, decompression and the archive's shape.
#include "import/PastePayloadDecoder.h"

#include "import/codecs/ArchiveParsing.h"
#include "import/codecs/RawInflate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace PastePayloadDecoder {

namespace {

constexpr char inlineValueMarker = 1;
constexpr char externalFileMarker = 2;
constexpr qsizetype externalNameLength = 36; // a UUID text

// The 36 bytes after the marker name a file in the external blob folder. Only a plain
// file name is accepted: the blob is outside input and must not lead anywhere else.
Expected<QByteArray, Failure> readExternalValue(const QByteArray &blob, const QString &folder,
                                                qsizetype maxBytes)
{
    if (blob.size() < 1 + externalNameLength)
        return unexpected(Failure(DecodeError::externalFileMissing));
    const QByteArray name = blob.mid(1, externalNameLength);
    for (const char c : name) {
        if (quint8(c) >= 0x80 || c == '\0' || c == '/')
            return unexpected(Failure(DecodeError::externalFileMissing));
    }
    if (name == "." || name == ".." || folder.isEmpty())
        return unexpected(Failure(DecodeError::externalFileMissing));
    // Nor may the blob folder or the support folder around it be a link out.
    const QFileInfo blobFolder(folder);
    if (blobFolder.isSymLink() || QFileInfo(blobFolder.path()).isSymLink())
        return unexpected(Failure(DecodeError::externalFileMissing));
    const QFileInfo info(QDir(folder).filePath(QString::fromLatin1(name)));
    // Only regular files: a FIFO or device would block or never end, and a link could lead
    // out of the folder.
    if (info.isSymLink() || !info.isFile() || info.size() > maxBytes)
        return unexpected(Failure(DecodeError::externalFileMissing));
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return unexpected(Failure(DecodeError::externalFileMissing));
    // Asking for the limit would allocate all of it: ask for the size found, and one byte
    // more to notice a file that grew since.
    const qint64 expected = info.size();
    QByteArray value = file.read(expected + 1);
    if (value.size() != expected || file.error() != QFileDevice::NoError)
        return unexpected(Failure(DecodeError::externalFileMissing));
    return value;
}

Expected<QVariant, QString> parseArchive(const QByteArray &bytes, const Limits &limits)
{
    if (bytes.startsWith("bplist"))
        return archive::parsePropertyList(bytes, limits.maxNestingDepth);
    return archive::parseJson(bytes, limits.maxNestingDepth);
}

} // namespace

QString describe(const Failure &failure)
{
    if (const auto *error = std::get_if<DecodeError>(&failure)) {
        switch (*error) {
        case DecodeError::empty:
            return QStringLiteral("empty blob");
        case DecodeError::externalFileMissing:
            return QStringLiteral("external blob file missing or unreadable");
        case DecodeError::unrecognized:
            return QStringLiteral("archive is neither a list of dictionaries nor a dictionary");
        }
    }
    if (const auto *error = std::get_if<lzfse::Error>(&failure))
        return lzfse::describe(*error);
    return std::get<ParseError>(failure).message;
}

Expected<QList<Entry>, Failure> decodeItems(const QByteArray &blob, const QString &externalBlobFolder,
                                            const Limits &limits)
{
    if (blob.isEmpty())
        return unexpected(Failure(DecodeError::empty));
    QByteArray value;
    if (blob[0] == inlineValueMarker) {
        value = blob.mid(1);
    } else if (blob[0] == externalFileMarker) {
        auto external = readExternalValue(blob, externalBlobFolder, limits.maxExternalFileBytes);
        if (!external)
            return unexpected(external.error());
        value = std::move(*external);
    } else {
        value = blob;
    }
    auto decompressed = decompressIfNeeded(value, limits);
    if (!decompressed)
        return unexpected(Failure(decompressed.error()));
    return parseEntries(*decompressed, limits);
}

Expected<QByteArray, lzfse::Error> decompressIfNeeded(const QByteArray &bytes, const Limits &limits)
{
    if (bytes.startsWith("bplist") || bytes.startsWith('[') || bytes.startsWith('{'))
        return bytes;
    if (bytes.startsWith("bvx"))
        return lzfse::decode(bytes, limits.maxDecompressedBytes);
    // Anything else is raw DEFLATE, or failing that LZFSE, whose error is the one reported.
    auto inflated = rawdeflate::inflateRaw(bytes, limits.maxDecompressedBytes);
    if (inflated && !inflated->isEmpty())
        return std::move(*inflated);
    return lzfse::decode(bytes, limits.maxDecompressedBytes);
}

Expected<QList<Entry>, Failure> parseEntries(const QByteArray &bytes, const Limits &limits)
{
    const auto parsed = parseArchive(bytes, limits);
    if (!parsed)
        return unexpected(Failure(ParseError{parsed.error()}));
    const QVariant &top = *parsed;
    if (top.typeId() == QMetaType::QVariantList) {
        const QVariantList list = top.toList();
        const bool allDictionaries = std::all_of(list.begin(), list.end(), [](const QVariant &v) {
            return v.typeId() == QMetaType::QVariantMap;
        });
        if (allDictionaries) {
            QList<Entry> entries;
            entries.reserve(list.size());
            for (const QVariant &element : list)
                entries.append(entryFromDictionary(element.toMap()));
            return entries;
        }
    }
    if (top.typeId() == QMetaType::QVariantMap)
        return QList<Entry>{entryFromDictionary(top.toMap())};
    return unexpected(Failure(DecodeError::unrecognized));
}

namespace {

// Foundation's strict Base64: only the 64 letters, padded to a multiple of four, '=' only
// at the end, no line breaks or spaces.
std::optional<QByteArray> strictBase64(const QString &text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    qsizetype padding = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || c == '+' || c == '/';
        if (c == '=') {
            ++padding;
        } else if (!letter || padding > 0) {
            return std::nullopt;
        }
    }
    if (padding > 2)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

} // namespace

Entry entryFromDictionary(const QVariantMap &dictionary)
{
    Entry entry;
    const QVariant raw = dictionary.value(QStringLiteral("dataByType"));
    if (raw.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = raw.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (it->typeId() == QMetaType::QByteArray) {
                entry.dataByType.insert(it.key(), it->toByteArray());
            } else if (it->typeId() == QMetaType::QString) {
                const QString text = it->toString();
                entry.dataByType.insert(it.key(), strictBase64(text).value_or(text.toUtf8()));
            }
        }
    }
    const QVariant types = dictionary.value(QStringLiteral("types"));
    const QVariantList typeList = types.typeId() == QMetaType::QVariantList ? types.toList() : QVariantList();
    const bool listOfTexts = types.typeId() == QMetaType::QVariantList
        && std::all_of(typeList.begin(), typeList.end(), [](const QVariant &v) { return v.typeId() == QMetaType::QString; });
    if (listOfTexts) {
        for (const QVariant &type : typeList)
            entry.types.append(type.toString());
    } else {
        entry.types = entry.dataByType.keys();
    }
    return entry;
}

std::optional<QVariantMap> decodePreview(const QByteArray &blob, const Limits &limits)
{
    const auto parsed = parseArchive(blob, limits);
    if (!parsed || parsed->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return parsed->toMap();
}

} // namespace PastePayloadDecoder
