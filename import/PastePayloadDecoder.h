#pragma once

#include "capture/ClipboardPayload.h"
#include "import/Expected.h"
#include "import/codecs/LzfseDecoder.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <variant>

// Turns what Paste stored for one item (its pasteboard archive and its preview record)
// into the one content this application keeps. Pure functions, no state; every blob is
// hostile input, so every step is bounded by Limits.
namespace PastePayloadDecoder {

// One pasteboard item of a Paste item.
struct Entry {
    QStringList types;                  // in the order Paste stored them; no decision reads it
    QMap<QString, QByteArray> dataByType;
    bool operator==(const Entry &) const = default;
};

enum class DecodeError {
    empty,               // the blob has no bytes
    externalFileMissing, // the blob points at a file that cannot be named or read
    unrecognized,        // the archive is neither a list of dictionaries nor a dictionary
};

struct ParseError {
    QString message;
    bool operator==(const ParseError &) const = default;
};

// Why decodeItems gave nothing: its own error, the LZFSE decoder's, or the parser's.
using Failure = std::variant<DecodeError, lzfse::Error, ParseError>;
QString describe(const Failure &failure);

struct Limits {
    qsizetype maxDecompressedBytes = lzfse::defaultOutputLimit;
    qsizetype maxExternalFileBytes = 256 * 1024 * 1024;
    int maxNestingDepth = 64;    // property lists and JSON
    int maxRtfGroupDepth = 256;
};

// The object store's external-storage marker, external blob files, decompression, parsing.
Expected<QList<Entry>, Failure> decodeItems(const QByteArray &blob, const QString &externalBlobFolder,
                                            const Limits &limits = {});
// The preview record's top-level dictionary, or none.
std::optional<QVariantMap> decodePreview(const QByteArray &blob, const Limits &limits = {});
// The content by fixed priorities (files, image for item type 1, preview files for 3, text,
// rich text, image), or none when nothing usable is there.
std::optional<ClipboardPayload::Content> makeContent(int itemType, const QList<Entry> &entries,
                                                     const std::optional<QVariantMap> &preview,
                                                     const Limits &limits = {});

// The steps, exposed for tests and fuzzing.
Expected<QByteArray, lzfse::Error> decompressIfNeeded(const QByteArray &bytes, const Limits &limits = {});
Expected<QList<Entry>, Failure> parseEntries(const QByteArray &bytes, const Limits &limits = {});
Entry entryFromDictionary(const QVariantMap &dictionary);
std::optional<QString> plainTextFromEntries(const QList<Entry> &entries);
std::optional<QString> textFromPreview(const std::optional<QVariantMap> &preview);
std::optional<QString> richTextFromEntries(const QList<Entry> &entries, const Limits &limits = {});
std::optional<QString> htmlToText(const QByteArray &bytes);
// htmlToText's three regular-expression replacements.
QString removeHtmlTags(const QString &text);
QString decodeNumericEntities(const QString &text);
std::optional<QByteArray> imageFromEntries(const QList<Entry> &entries);

} // namespace PastePayloadDecoder
