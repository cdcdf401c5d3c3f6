#include "capture/ImageNormalization.h"
#include "capture/PngEncoder.h"

#include "platform/log/Log.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTest>
#include <QtConcurrent>

namespace {

QByteArray encodedImage(QSize size, const char *format)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(QColor(20, 120, 220, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        return {};
    return bytes;
}

// PNG bytes decoded; a null image when the bytes are not PNG.
QImage decodedPng(const QByteArray &bytes)
{
    if (!bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return {};
    return QImage::fromData(bytes, "png");
}

QByteArray readTestFile(const char *name)
{
    QFile file(QStringLiteral(KN_TEST_DATA_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Noise in every channel, alpha included: what photographs leave after filtering.
QImage noiseImage(QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = random.generate();
    }
    return image;
}

// Flat areas and a translucent band: what screenshots and drawings leave.
QImage drawingImage(QSize size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            if ((x / 7 + y / 5) % 3 == 0)
                image.setPixel(x, y, qRgba(x % 256, 10, 200, 60 + y % 100));
    return image;
}

} // namespace

class TestImageNormalization : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sizeRule_data()
    {
        QTest::addColumn<QSize>("original");
        QTest::addColumn<QSize>("stored");
        QTest::newRow("wide") << QSize(4000, 1000) << QSize(2000, 500);
        QTest::newRow("tall") << QSize(1000, 4000) << QSize(500, 2000);
        QTest::newRow("exactly 2000") << QSize(2000, 1999) << QSize(2000, 1999);
        // 2000/3001 × 3001 is just below 2000 in floating point, and is truncated.
        QTest::newRow("truncated, not rounded") << QSize(3001, 2999) << QSize(1999, 1998);
        QTest::newRow("thin line truncates to nothing") << QSize(5000, 2) << QSize(2000, 0);
        QTest::newRow("zero") << QSize(0, 0) << QSize();
    }

    void sizeRule()
    {
        QFETCH(QSize, original);
        QFETCH(QSize, stored);
        QCOMPARE(normalizedImageSize(original), stored);
    }

    void encodedImagesBecomePngAtTheStoredSize_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QSize>("original");
        QTest::addColumn<QSize>("stored");
        QTest::newRow("png 4000x1000") << QByteArray("png") << QSize(4000, 1000) << QSize(2000, 500);
        QTest::newRow("tiff 300x200") << QByteArray("tiff") << QSize(300, 200) << QSize(300, 200);
        QTest::newRow("jpeg 3000x4000") << QByteArray("jpeg") << QSize(3000, 4000) << QSize(1500, 2000);
        QTest::newRow("bmp 64x64") << QByteArray("bmp") << QSize(64, 64) << QSize(64, 64);
    }

    void encodedImagesBecomePngAtTheStoredSize()
    {
        QFETCH(QByteArray, format);
        QFETCH(QSize, original);
        QFETCH(QSize, stored);
        if (!QImageReader::supportedImageFormats().contains(format))
            QFAIL("image format plugin missing: install qt6-image-formats-plugins");
        const std::optional<QByteArray> png = normalizedImageData(encodedImage(original, format.constData()));
        QVERIFY(png);
        const QImage image = decodedPng(*png);
        QCOMPARE(image.size(), stored);
        QVERIFY(image.hasAlphaChannel());
        if (format == "png")
            QCOMPARE(qAlpha(image.pixel(0, 0)), 200); // transparency survives
    }

    // Decoded by libpng through Qt's reader, an independent codec that checks every chunk.
    void encodedPngDecodesToTheSamePixels_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::newRow("photograph") << noiseImage({301, 199});
        QTest::newRow("drawing") << drawingImage({640, 97});
        QTest::newRow("one pixel") << drawingImage({1, 1});
        QTest::newRow("one column") << noiseImage({1, 40});
        QTest::newRow("data over several chunks") << noiseImage({700, 500});
    }

    void encodedPngDecodesToTheSamePixels()
    {
        QFETCH(QImage, image);
        const QImage decoded = decodedPng(encodePng(image));
        QVERIFY(decoded.hasAlphaChannel());
        QCOMPARE(decoded.convertToFormat(QImage::Format_ARGB32), image.convertToFormat(QImage::Format_ARGB32));
    }

    // The bytes, and so the content hash, follow the pixels alone: not the pixel format
    // nor the resolution a program wrote into the file.
    void equalPixelsGiveEqualBytes()
    {
        const QImage image = drawingImage({120, 80}).convertToFormat(QImage::Format_RGB32);
        const QByteArray png = encodePng(image);
        QCOMPARE(encodePng(image.convertToFormat(QImage::Format_ARGB32_Premultiplied)), png);
        QCOMPARE(encodePng(image.convertToFormat(QImage::Format_RGBA8888)), png);
        QVERIFY(encodePng(QImage()).isEmpty());

        const auto fileAt = [](QImage picture, int dotsPerMeter) {
            picture.setDotsPerMeterX(dotsPerMeter);
            picture.setDotsPerMeterY(dotsPerMeter);
            QByteArray file;
            QBuffer buffer(&file);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, "png");
            return file;
        };
        QCOMPARE(*normalizedImageData(fileAt(image, 2835)), png);
        QCOMPARE(*normalizedImageData(fileAt(image, 5669)), png);
    }

    void undecodableGivesNone_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("definitely not an image");
        QTest::newRow("png signature then garbage") << readTestFile("png_truncated_garbage.png");
        QTest::newRow("zero-sized") << QByteArray("P6\n0 0\n255\n");
        QTest::newRow("line truncated to zero height") << encodedImage({5000, 2}, "png");
    }

    void undecodableGivesNone()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!normalizedImageData(bytes));
    }

    void decompressionBombIsRefusedWithALogLine()
    {
        klog::Recorder recorder;
        const QByteArray bomb = readTestFile("png_bomb_100000x100000.png");
        QVERIFY(!bomb.isEmpty());
        QVERIFY(!normalizedImageData(bomb));
        const QStringList errors = recorder.messages(klog::Category::Capture, klog::Level::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains(QStringLiteral("100000×100000")));
    }

    void manyThreadsAtOnce()
    {
        QList<QByteArray> inputs;
        for (int i = 1; i <= 16; ++i)
            inputs.append(encodedImage({100 * i + 2000, 50 * i}, "png"));
        const QList<std::optional<QByteArray>> outputs =
            QtConcurrent::blockingMapped(inputs, [](const QByteArray &in) { return normalizedImageData(in); });
        for (int i = 0; i < outputs.size(); ++i) {
            QVERIFY(outputs.at(i));
            QCOMPARE(decodedPng(*outputs.at(i)).width(), 2000);
            // The same input always gives the same bytes.
            QCOMPARE(*outputs.at(i), *normalizedImageData(inputs.at(i)));
        }
    }
};

QTEST_GUILESS_MAIN(TestImageNormalization)
#include "tst_imagenormalization.moc"
