#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

// QString::fromUtf8 drops a byte order mark at the start of a text; a stored text gives
// back every character it was saved with.
inline QString textFromUtf8(QByteArrayView bytes)
{
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}
