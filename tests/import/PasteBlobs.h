#pragma once

// The blobs Paste stores for an item, made with the real writers (ArchiveBuilders.h) and
// the reference LZFSE vectors.

#include "ArchiveBuilders.h"

#include <QFile>
#include <QtEndian>

namespace pasteblob {

inline const QString utf8Type = QStringLiteral("public.utf8-plain-text");
inline const QString pngType = QStringLiteral("public.png");
inline const QString fileUrlType = QStringLiteral("public.file-url");

inline QByteArray testData(const QString &relativePath)
{
    QFile file(QStringLiteral(KN_TEST_DATA_DIR "/") + relativePath);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(relativePath));
    return file.readAll();
}

// A pasteboard archive of one item holding one text, as a binary property list.
inline QByteArray textArchive(const QString &text)
{
    return testarchive::binaryPlist(QVariantList{testarchive::item({{utf8Type, text.toUtf8()}}, {utf8Type})});
}

inline QByteArray imageArchive(const QByteArray &png)
{
    return testarchive::binaryPlist(QVariantList{testarchive::item({{pngType, png}}, {pngType})});
}

inline QByteArray filesArchive(const QStringList &urls)
{
    QVariantList items;
    for (const QString &url : urls)
        items.append(testarchive::item({{fileUrlType, url.toUtf8()}}, {fileUrlType}));
    return testarchive::json(items);
}

// The object store's markers: the value inline, or in a file of the external blob folder.
inline QByteArray inlineValue(const QByteArray &value)
{
    return QByteArray(1, '\1') + value;
}
inline QByteArray externalReference(const QByteArray &fileName)
{
    return QByteArray(1, '\2') + fileName;
}

// An LZFSE stream of one uncompressed block, as the reference encoder writes short inputs.
inline QByteArray lzfseStored(const QByteArray &bytes)
{
    QByteArray stream("bvx-");
    char size[4];
    qToLittleEndian<quint32>(quint32(bytes.size()), size);
    stream.append(size, 4);
    return stream + bytes + "bvx$";
}

inline QByteArray textPreview(const QString &text)
{
    return testarchive::binaryPlist(QVariantMap{{QStringLiteral("text"), text}});
}

} // namespace pasteblob
