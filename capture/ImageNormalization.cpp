#include "capture/ImageNormalization.h"

#include "capture/PngEncoder.h"

#include "platform/log/Log.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <algorithm>

QSize normalizedImageSize(QSize original)
{
    const double width = original.width();
    const double height = original.height();
    const double longer = std::max(width, height);
    if (!(longer > 0))
        return {};
    const double scale = std::min(2000.0 / longer, 1.0);
    return {static_cast<int>(scale * width), static_cast<int>(scale * height)};
}

std::optional<QByteArray> normalizedImageData(const QByteArray &bytes)
{
    QBuffer input;
    input.setData(bytes);
    input.open(QIODevice::ReadOnly);
    QImageReader reader(&input);
    reader.setAutoTransform(true);

    const QSize declared = reader.size();
    if (declared.isValid()
        && qint64(declared.width()) * qint64(declared.height()) > maxDecodedImagePixels) {
        klog::error(klog::Category::Capture,
                    QStringLiteral("image of %1×%2 pixels is too large to normalise; keeping its bytes")
                        .arg(declared.width())
                        .arg(declared.height()));
        return std::nullopt;
    }
    // Formats that can decode at a smaller size (JPEG) skip most of the full-size work.
    if (declared.isValid() && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        const QSize target = normalizedImageSize(declared);
        if (target.isEmpty())
            return std::nullopt;
        if (target != declared)
            reader.setScaledSize(target);
    }

    QImage image;
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;

    const QSize target = normalizedImageSize(image.size());
    if (target.isEmpty())
        return std::nullopt;
    if (target != image.size())
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // 8 bits per sample, four samples with alpha, in device RGB.
    QByteArray png = encodePng(image);
    if (png.isEmpty())
        return std::nullopt;
    return png;
}
