// Prints the content-hash throughput and the cost of normalising images.
#include "capture/ContentHash.h"
#include "capture/ImageNormalization.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <cstdio>

namespace {

QByteArray encode(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Smooth gradients with noise, as a camera produces.
QImage photoLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(42);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int noise = int(random.bounded(16));
            line[x] = qRgb((x * 255 / width + noise) & 0xff, (y * 255 / height + noise) & 0xff,
                           ((x + y) * 127 / (width + height) + noise) & 0xff);
        }
    }
    return image;
}

// Flat areas, text-like strokes and a few colours, as a screenshot has.
QImage screenshotLike(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(245, 245, 245));
    QPainter painter(&image);
    painter.fillRect(0, 0, width, 24, QColor(40, 44, 52));
    for (int y = 40; y < height; y += 18)
        painter.drawText(10, y, QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789"));
    return image;
}

template<typename F>
double medianMilliseconds(int runs, F &&work)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QString text(50 * 1024 * 1024, QLatin1Char('k'));
    const double hashMs = medianMilliseconds(5, [&] { computeContentHash(text, std::nullopt); });
    std::printf("content hash, 50 MB text: %.1f ms median, %.0f MB/s\n", hashMs, 50.0 / (hashMs / 1000.0));

    const QByteArray bytes(50 * 1024 * 1024, '\x5a');
    const double bytesMs = medianMilliseconds(5, [&] { computeContentHash(std::nullopt, bytes); });
    std::printf("content hash, 50 MB image bytes: %.1f ms median, %.0f MB/s\n", bytesMs, 50.0 / (bytesMs / 1000.0));

    const struct {
        const char *name;
        QByteArray bytes;
    } images[] = {
        {"6000x4000 photo (JPEG)", encode(photoLike(6000, 4000), "jpeg")},
        {"6000x4000 photo (PNG)", encode(photoLike(6000, 4000), "png")},
        {"400x300 screenshot (PNG)", encode(screenshotLike(400, 300), "png")},
    };
    for (const auto &image : images) {
        const double ms = medianMilliseconds(5, [&] { normalizedImageData(image.bytes); });
        std::printf("normalizedImageData, %s, %.1f MB in: %.1f ms median\n", image.name,
                    double(image.bytes.size()) / 1e6, ms);
    }
    return 0;
}
