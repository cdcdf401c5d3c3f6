#include "capture/ContentHash.h"

#include <QCryptographicHash>

qint64 computeContentHash(const std::optional<QString> &plainText,
                          const std::optional<QByteArray> &imageData)
{
    QCryptographicHash sha256(QCryptographicHash::Sha256);
    if (plainText)
        sha256.addData(plainText->toUtf8());
    if (imageData)
        sha256.addData(*imageData);
    const QByteArray digest = sha256.result();

    quint64 value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<quint8>(digest.at(i));
    return static_cast<qint64>(value);
}
