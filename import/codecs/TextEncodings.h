#pragma once

#include <QByteArrayView>
#include <QString>

#include <QStringDecoder>

#include <memory>
#include <optional>
#include <unordered_map>

// The text encodings clipboard archives from macOS use, decoded strictly: bytes that are
// not valid in the encoding give none, never replacement characters.
enum class TextEncoding {
    utf8,
    utf16,             // byte-order mark honoured; little-endian without one, as on every current Mac
    utf16LittleEndian,
    macOSRoman,
};

std::optional<QString> decodeText(QByteArrayView bytes, TextEncoding encoding);

// Mac OS Roman, the classic Mac character set: every byte maps to one character.
QString decodeMacOSRoman(QByteArrayView bytes);

// A Windows or Mac code page number as RTF's \ansicpgN names it (1252, 10000, 932...).
// Unmapped bytes become replacement characters; code pages Qt cannot convert give none.
std::optional<QString> decodeCodePage(QByteArrayView bytes, int codePage);

// The same, keeping each decoder it makes: making one by name costs far more than decoding
// a few bytes, and an RTF document may decode a few bytes between every two control words.
class CodePageDecoders
{
public:
    std::optional<QString> decode(QByteArrayView bytes, int codePage);

private:
    std::unordered_map<int, std::unique_ptr<QStringDecoder>> m_decoders; // null: none for that page
};
