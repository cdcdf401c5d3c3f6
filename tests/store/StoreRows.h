#pragma once

#include "store/ClipItem.h"

#include <QCryptographicHash>
#include <QString>
#include <QtEndian>

// Rows whose every value follows from their transaction and position, so that a reader
// can tell a whole row from a torn one.
namespace storerows {

inline constexpr int rowsPerTransaction = 8;

inline QString textFor(int transaction, int index)
{
    return QStringLiteral("transaction %1 row %2 ").arg(transaction).arg(index).repeated(1 + (index * 37) % 200);
}

inline QByteArray imageFor(int transaction, int index)
{
    QByteArray bytes;
    const QByteArray seed = QByteArray::number(transaction * 1000 + index);
    while (bytes.size() < 24 * 1024)
        bytes += QCryptographicHash::hash(QByteArray(bytes.right(32) + seed), QCryptographicHash::Sha256);
    return bytes;
}

inline qint64 hashFor(const QString &text, const QByteArray &image)
{
    const QByteArray digest = QCryptographicHash::hash(QByteArray(text.toUtf8() + image), QCryptographicHash::Sha256);
    return qFromLittleEndian<qint64>(digest.constData());
}

inline void fill(ClipItem &item, int transaction, int index)
{
    const QString text = textFor(transaction, index);
    const QByteArray image = imageFor(transaction, index);
    item.setTitle(QStringLiteral("t%1-%2").arg(transaction).arg(index));
    item.setPlainText(text);
    item.setImageData(image);
    item.setContentHash(hashFor(text, image));
    item.setCreatedAt(QDateTime::fromMSecsSinceEpoch(1700000000000 + transaction * 100 + index, Qt::UTC));
}

// Whether the item is exactly as fill() made it.
inline bool isWhole(const ClipItem &item)
{
    const QString title = item.title().value_or(QString());
    if (!title.startsWith(QLatin1Char('t')))
        return false;
    const QStringList parts = title.mid(1).split(QLatin1Char('-'));
    if (parts.size() != 2)
        return false;
    const int transaction = parts[0].toInt();
    const int index = parts[1].toInt();
    const QString text = textFor(transaction, index);
    const QByteArray image = imageFor(transaction, index);
    return item.plainText() == text && item.imageData() == image && item.contentHash() == hashFor(text, image)
        && item.createdAt()
        == QDateTime::fromMSecsSinceEpoch(1700000000000 + transaction * 100 + index, Qt::UTC);
}

} // namespace storerows
