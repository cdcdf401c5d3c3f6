// Entries and preview to content, by fixed priorities.
#include "import/PastePayloadDecoder.h"

#include "import/codecs/RtfReader.h"
#include "import/codecs/TextEncodings.h"

#include <QUrl>

#include <array>
#include <utility>

namespace PastePayloadDecoder {

namespace {

const QString fileUrlType = QStringLiteral("public.file-url");
const QString rtfType = QStringLiteral("public.rtf");
const QString htmlType = QStringLiteral("public.html");

const std::array<std::pair<QString, TextEncoding>, 5> plainTextTypes = {{
    {QStringLiteral("public.utf8-plain-text"), TextEncoding::utf8},
    {QStringLiteral("public.text"), TextEncoding::utf8},
    {QStringLiteral("public.utf16-external-plain-text"), TextEncoding::utf16},
    {QStringLiteral("public.utf16-plain-text"), TextEncoding::utf16LittleEndian},
    {QStringLiteral("com.apple.traditional-mac-plain-text"), TextEncoding::macOSRoman},
}};

const std::array<QString, 4> imageTypes = {
    QStringLiteral("public.png"), QStringLiteral("public.tiff"),
    QStringLiteral("public.jpeg"), QStringLiteral("public.heic"),
};

enum ItemType { imageItem = 1, fileItem = 3 };

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

// The last component of a path text; a trailing "/" does not count.
QString lastPathComponent(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    if (trimmed == QLatin1String("/"))
        return trimmed;
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

std::optional<ClipboardPayload::File> filesFromUrls(const QList<Entry> &entries)
{
    QStringList names;
    QStringList paths;
    for (const Entry &entry : entries) {
        const auto found = entry.dataByType.constFind(fileUrlType);
        if (found == entry.dataByType.constEnd())
            continue;
        const auto text = decodeText(*found, TextEncoding::utf8);
        if (!text)
            continue;
        const QUrl url(text->trimmed(), QUrl::StrictMode);
        if (!url.isValid() || !url.isLocalFile())
            continue;
        QString path = url.toLocalFile(); // percent escapes decoded
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        names.append(lastPathComponent(path));
        paths.append(path);
    }
    if (names.isEmpty())
        return std::nullopt;
    return ClipboardPayload::File{names.join(QStringLiteral(", ")), paths.join(QLatin1Char('\n'))};
}

std::optional<ClipboardPayload::File> filesFromPreview(const std::optional<QVariantMap> &preview)
{
    if (!preview)
        return std::nullopt;
    const QVariant value = preview->value(QStringLiteral("filePaths"));
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList names;
    QStringList paths;
    for (const QVariant &element : value.toList()) {
        if (element.typeId() != QMetaType::QString)
            return std::nullopt;
        paths.append(element.toString());
        names.append(lastPathComponent(paths.last()));
    }
    if (paths.isEmpty())
        return std::nullopt;
    return ClipboardPayload::File{names.join(QStringLiteral(", ")), paths.join(QLatin1Char('\n'))};
}

std::optional<QByteArray> firstRtf(const QList<Entry> &entries)
{
    for (const Entry &entry : entries) {
        const auto found = entry.dataByType.constFind(rtfType);
        if (found != entry.dataByType.constEnd())
            return *found;
    }
    return std::nullopt;
}

} // namespace

std::optional<ClipboardPayload::Content> makeContent(int itemType, const QList<Entry> &entries,
                                                     const std::optional<QVariantMap> &preview,
                                                     const Limits &limits)
{
    if (itemType < 0 || itemType > 5)
        itemType = 0;
    if (auto files = filesFromUrls(entries))
        return *files;
    if (itemType == imageItem) {
        if (auto image = imageFromEntries(entries))
            return ClipboardPayload::Image{*image};
        // An empty preview image would make an item without a picture; it does not count.
        const QVariant previewImage = preview ? preview->value(QStringLiteral("imageData")) : QVariant();
        if (previewImage.typeId() == QMetaType::QByteArray && !previewImage.toByteArray().isEmpty())
            return ClipboardPayload::Image{previewImage.toByteArray()};
    }
    if (itemType == fileItem) {
        if (auto files = filesFromPreview(preview))
            return *files;
    }
    auto text = plainTextFromEntries(entries);
    if (!text)
        text = textFromPreview(preview);
    if (!text)
        text = richTextFromEntries(entries, limits);
    if (text)
        return ClipboardPayload::Text{*text, firstRtf(entries)};
    if (auto image = imageFromEntries(entries))
        return ClipboardPayload::Image{*image};
    return std::nullopt;
}

std::optional<QString> plainTextFromEntries(const QList<Entry> &entries)
{
    for (const auto &[type, encoding] : plainTextTypes) {
        for (const Entry &entry : entries) {
            const auto found = entry.dataByType.constFind(type);
            if (found == entry.dataByType.constEnd())
                continue;
            auto text = decodeText(*found, encoding);
            if (!text)
                continue;
            text->remove(QChar(u'\0'));
            if (!isBlank(*text))
                return text;
        }
    }
    return std::nullopt;
}

std::optional<QString> textFromPreview(const std::optional<QVariantMap> &preview)
{
    if (!preview)
        return std::nullopt;
    const QVariant text = preview->value(QStringLiteral("text"));
    if (text.typeId() == QMetaType::QString && !isBlank(text.toString()))
        return text.toString();
    // A blank link would make a text item of nothing but spaces; it does not count.
    const QVariant url = preview->value(QStringLiteral("url"));
    if (url.typeId() == QMetaType::QString && !isBlank(url.toString()))
        return url.toString();
    if (url.typeId() == QMetaType::QVariantMap) {
        const QVariant relative = url.toMap().value(QStringLiteral("relative"));
        if (relative.typeId() == QMetaType::QString && !isBlank(relative.toString()))
            return relative.toString();
    }
    const QVariant colorCode = preview->value(QStringLiteral("colorCode"));
    if (colorCode.typeId() == QMetaType::LongLong) {
        const quint32 rgb = quint32(colorCode.toLongLong()) & 0xFFFFFF;
        return QStringLiteral("#%1").arg(rgb, 6, 16, QLatin1Char('0')).toUpper();
    }
    return std::nullopt;
}

std::optional<QString> richTextFromEntries(const QList<Entry> &entries, const Limits &limits)
{
    for (const Entry &entry : entries) {
        const auto rtf = entry.dataByType.constFind(rtfType);
        if (rtf != entry.dataByType.constEnd()) {
            const auto text = rtf::plainText(*rtf, limits.maxRtfGroupDepth);
            if (text && !isBlank(*text))
                return text;
        }
        const auto html = entry.dataByType.constFind(htmlType);
        if (html != entry.dataByType.constEnd()) {
            const auto text = htmlToText(*html);
            if (text && !text->isEmpty())
                return text;
        }
    }
    return std::nullopt;
}

std::optional<QByteArray> imageFromEntries(const QList<Entry> &entries)
{
    for (const QString &type : imageTypes) {
        for (const Entry &entry : entries) {
            const auto found = entry.dataByType.constFind(type);
            if (found == entry.dataByType.constEnd())
                continue;
            if (!found->isEmpty())
                return *found;
            break; // only the first entry with the type is looked at
        }
    }
    return std::nullopt;
}

} // namespace PastePayloadDecoder
