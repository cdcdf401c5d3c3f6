#pragma once

#include <QByteArray>
#include <QSize>

#include <optional>

// Images larger than this many pixels (256 MB decoded) are not decoded: a decompression
// bomb would otherwise take gigabytes. Their bytes are kept as read.
inline constexpr qint64 maxDecodedImagePixels = 64LL * 1024 * 1024;

// The pixel size an image of the given size is stored at: the longer side at most 2000,
// never enlarged, each side truncated toward zero.
QSize normalizedImageSize(QSize original);

// Decodes the bytes, scales them to normalizedImageSize and encodes PNG with alpha.
// None when the bytes cannot be decoded, the image is empty or too large, or encoding
// fails; the caller then keeps the bytes it had. Safe to call from several threads.
std::optional<QByteArray> normalizedImageData(const QByteArray &bytes);
