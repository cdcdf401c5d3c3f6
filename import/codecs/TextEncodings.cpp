#include "import/codecs/TextEncodings.h"

#include <array>

namespace {

// Bytes 0x80..0xFF of Mac OS Roman (with the euro sign at 0xDB, as since Mac OS 8.5).
constexpr std::array<char16_t, 128> macOSRomanHighHalf = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, // 80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8, // 88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, // 90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, // 98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, // A0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, // A8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, // B0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, // B8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, // C0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, // C8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, // D0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, // D8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, // E0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, // E8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, // F0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7, // F8
};

std::optional<QString> decodeStrictly(QByteArrayView bytes, QStringConverter::Encoding encoding)
{
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<QString> decodeUtf16(QByteArrayView bytes, bool honourByteOrderMark)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    const bool bigEndianMark = bytes.size() >= 2 && quint8(bytes[0]) == 0xFE && quint8(bytes[1]) == 0xFF;
    // The decoder drops a leading byte-order mark of its own byte order.
    return decodeStrictly(bytes, honourByteOrderMark && bigEndianMark ? QStringConverter::Utf16BE
                                                                      : QStringConverter::Utf16LE);
}

} // namespace

QString decodeMacOSRoman(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const auto value = quint8(byte);
        *out++ = value < 0x80 ? QChar(char16_t(value)) : QChar(macOSRomanHighHalf[value - 0x80]);
    }
    return text;
}

std::optional<QString> decodeText(QByteArrayView bytes, TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::utf8:
        return decodeStrictly(bytes, QStringConverter::Utf8);
    case TextEncoding::utf16:
        return decodeUtf16(bytes, true);
    case TextEncoding::utf16LittleEndian:
        return decodeUtf16(bytes, false);
    case TextEncoding::macOSRoman:
        return decodeMacOSRoman(bytes);
    }
    return std::nullopt;
}

std::optional<QString> decodeCodePage(QByteArrayView bytes, int codePage)
{
    return CodePageDecoders().decode(bytes, codePage);
}

std::optional<QString> CodePageDecoders::decode(QByteArrayView bytes, int codePage)
{
    switch (codePage) {
    case 10000:
        return decodeMacOSRoman(bytes);
    case 65001:
        return QString::fromUtf8(bytes);
    case 20127:
    case 28591:
        return QString::fromLatin1(bytes);
    default:
        break;
    }
    auto found = m_decoders.find(codePage);
    if (found == m_decoders.end()) {
        // Code page numbers are outside input: a document naming ever new ones must not
        // grow the cache without end.
        constexpr size_t maxDecoders = 64;
        if (m_decoders.size() >= maxDecoders)
            m_decoders.clear();
        std::unique_ptr<QStringDecoder> made;
        // ICU knows the Windows code pages as "windows-N" and the DOS and Asian ones as "cpN".
        for (const QString &name : {QStringLiteral("windows-%1").arg(codePage), QStringLiteral("cp%1").arg(codePage)}) {
            auto decoder = std::make_unique<QStringDecoder>(qPrintable(name), QStringConverter::Flag::Stateless);
            if (decoder->isValid()) {
                made = std::move(decoder);
                break;
            }
        }
        found = m_decoders.emplace(codePage, std::move(made)).first;
    }
    if (!found->second)
        return std::nullopt;
    // Bytes a code page leaves unmapped become replacement characters.
    return found->second->decode(bytes);
}
