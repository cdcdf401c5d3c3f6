// Prints how fast a Paste history imports through the import controller (the same path as
// the settings window and `kestrelnote import-paste`), the peak resident memory during the
// import, and the time to the first progress report.
//
//   bench_paste_import [COUNT...]      default: 5000 20000, each in a fresh process
//   bench_paste_import --keep DIR N    only builds the database of N items in DIR/db.sqlite
//   --no-images                        texts in the image slots: what the rest of the mix costs
//
// The database holds texts, links, HTML-only texts, images of a few hundred KB and file
// lists, with blobs in every stored form (binary property lists, JSON, raw DEFLATE, LZFSE,
// inline and external markers), sources, pinboards and previews.
#include "capture/ClipboardPayload.h"
#include "import/PasteImportController.h"
#include "platform/defaults/UserDefaults.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include "../tests/import/PasteBlobs.h"
#include "../tests/import/PasteDatabaseBuilder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <cstdio>

using namespace pasteblob;
using Item = PasteDatabaseBuilder::Item;

namespace {

// Smooth gradients with noise, as a photo or a screenshot with pictures compresses.
QByteArray imagePng(int index)
{
    const int width = 520;
    const int height = 380;
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(quint32(index) + 1);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int noise = int(random.bounded(24));
            line[x] = qRgb((x * 255 / width + noise + index) & 0xff, (y * 255 / height + noise) & 0xff,
                           ((x + y) * 127 / (width + height) + noise) & 0xff);
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(80); // a faster zlib level than the default: building is not measured
    writer.write(image);
    return png;
}

// One of the stored forms, by index: the object store's markers and Paste's compressions.
QByteArray storedForm(const QVariant &archive, int form, const QString &blobFolder)
{
    switch (form % 7) {
    case 0:
        return testarchive::binaryPlist(archive);
    case 1:
        return inlineValue(testarchive::binaryPlist(archive));
    case 2:
        return testarchive::rawDeflate(testarchive::binaryPlist(archive));
    case 3:
        return inlineValue(testarchive::rawDeflate(testarchive::json(archive)));
    case 4:
        return lzfseStored(testarchive::binaryPlist(archive));
    case 5:
        return testarchive::json(archive);
    default: {
        const QByteArray name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
        QFile file(blobFolder + QLatin1Char('/') + QString::fromLatin1(name));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(file.fileName()));
        file.write(testarchive::rawDeflate(testarchive::binaryPlist(archive)));
        return externalReference(name);
    }
    }
}

QVariantList entry(const QString &type, const QByteArray &bytes)
{
    return {testarchive::item({{type, bytes}}, {type})};
}

// Without images, every fifth image slot holds a text instead: the rest of the mix stays.
void buildDatabase(const QString &folder, int count, bool withImages)
{
    const QString blobFolder = folder + QStringLiteral("/.db_SUPPORT/_EXTERNAL_DATA");
    QDir().mkpath(blobFolder);
    PasteDatabaseBuilder builder(folder + QStringLiteral("/db.sqlite"));
    QList<qint64> apps;
    for (int i = 0; i < 10; ++i)
        apps.append(builder.addApp(QStringLiteral("org.example.app%1").arg(i), QStringLiteral("App %1").arg(i)));
    const QList<qint64> pinboards = {builder.addList(QStringLiteral("Work")), builder.addList(QStringLiteral("Snippets")),
                                     builder.addList(QStringLiteral("Later"))};
    const qint64 plainList = builder.addList(QStringLiteral("Clipboard"), 1);
    const QByteArray lzfseVector = testData(QStringLiteral("lzfse/plist_archive.lzfse"));

    builder.begin();
    for (int i = 0; i < count; ++i) {
        Item item;
        item.createdAt = 790000000.0 - i * 37.0;
        item.app = apps.at(i % apps.size());
        item.list = i % 50 == 7 ? QVariant(pinboards.at(i % 3)) : QVariant(plainList);
        const int kind = i % 100;
        QVariantList archive;
        if (kind < 50) {
            const QString text = QStringLiteral("Note %1: the quarterly figures are due on Friday; "
                                                "remember the attachment and the summary table.").arg(i);
            archive = entry(utf8Type, text.toUtf8());
            item.preview = textPreview(text.left(40));
        } else if (kind < 70) {
            archive = entry(utf8Type, QStringLiteral("https://example.org/articles/%1?ref=clip").arg(i).toUtf8());
        } else if (kind < 78) {
            archive = entry(QStringLiteral("public.html"),
                            QStringLiteral("<p>Paragraph <b>%1</b> &amp; more</p><script>x()</script>").arg(i).toUtf8());
        } else if (kind < 83 && withImages) {
            item.type = 1;
            archive = entry(pngType, imagePng(i));
        } else if (kind < 83) {
            archive = entry(utf8Type, QStringLiteral("A text where the image would be, %1").arg(i).toUtf8());
        } else {
            item.type = 3;
            QVariantList files;
            for (int f = 0; f < 1 + i % 3; ++f)
                files += entry(fileUrlType, QStringLiteral("file:///home/user/Documents/report%1-%2.pdf").arg(i).arg(f).toUtf8());
            archive = files;
        }
        item.pasteboard = i % 997 == 0 ? lzfseVector : storedForm(archive, i, blobFolder);
        builder.addItem(item);
        if (i % 1000 == 999) {
            builder.commit();
            builder.begin();
        }
    }
    builder.commit();
}

qint64 statusKilobytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Resets the process's peak resident size, so VmHWM measures what follows.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

int runOne(int count, bool withImages)
{
    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("Paste"));
    QElapsedTimer building;
    building.start();
    buildDatabase(folder, count, withImages);
    const qint64 databaseBytes = QFileInfo(folder + QStringLiteral("/db.sqlite")).size();
    const double buildSeconds = double(building.elapsed()) / 1000.0;

    UserDefaults defaults(work.filePath(QStringLiteral("kestrelnote.conf")));
    defaults.registerApplicationDefaults();
    defaults.setInteger(SettingsKey::historyLimit, count * 2); // every item is read
    StoreContainer container(QStringLiteral("Kestrelnote"));
    container.storeDescription().path = work.filePath(QStringLiteral("Kestrelnote.sqlite"));
    if (!container.loadPersistentStore())
        qFatal("cannot open the store");
    container.viewContext()->setAutomaticallyMergesChanges(true);

    PasteImportController controller(container, defaults);
    QList<qint64> residentAtQuarter(4, -1);
    qint64 firstReportMs = -1;
    QElapsedTimer clock;
    QObject::connect(&controller, &PasteImportController::stateChanged, &controller,
                     [&](const PasteImportController::State &state) {
                         if (const auto *running = std::get_if<PasteImportController::Running>(&state)) {
                             if (running->done > 0 && firstReportMs < 0)
                                 firstReportMs = clock.elapsed();
                             const qint64 quarter = running->total ? running->done * 4 / running->total - 1 : -1;
                             if (quarter >= 0 && residentAtQuarter.at(quarter) < 0)
                                 residentAtQuarter[quarter] = statusKilobytes("VmRSS:");
                         } else {
                             QCoreApplication::quit();
                         }
                     });
    resetPeakMemory();
    const qint64 baseline = statusKilobytes("VmRSS:");
    clock.start();
    controller.startImport(folder);
    QCoreApplication::exec();
    const double seconds = double(clock.elapsed()) / 1000.0;
    const qint64 peak = statusKilobytes("VmHWM:");

    const auto *finished = std::get_if<PasteImportController::Finished>(&controller.state());
    if (!finished) {
        std::printf("import failed: %s\n", qPrintable(std::get<PasteImportController::Failed>(controller.state()).message));
        return 1;
    }
    std::printf("%d items%s (database %.0f MB, built in %.1f s): %s\n", count, withImages ? "" : " without images",
                double(databaseBytes) / 1e6, buildSeconds,
                qPrintable(sentence(finished->summary)));
    std::printf("  import %.2f s = %.0f items/s; first progress report after %lld ms\n", seconds, count / seconds,
                static_cast<long long>(firstReportMs));
    std::printf("  resident before %.1f MB, peak during import %.1f MB; at 25/50/75/100%%: %.1f %.1f %.1f %.1f MB\n",
                double(baseline) / 1024, double(peak) / 1024, double(residentAtQuarter[0]) / 1024,
                double(residentAtQuarter[1]) / 1024, double(residentAtQuarter[2]) / 1024,
                double(residentAtQuarter[3]) / 1024);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool withImages = !args.removeAll(QStringLiteral("--no-images"));
    if (args.size() == 2 && args.first() == QLatin1String("--run"))
        return runOne(args.at(1).toInt(), withImages);
    if (args.size() == 3 && args.first() == QLatin1String("--keep")) {
        buildDatabase(args.at(1), args.at(2).toInt(), withImages);
        std::printf("built %s/db.sqlite\n", qPrintable(args.at(1)));
        return 0;
    }
    const QStringList counts = args.isEmpty() ? QStringList{QStringLiteral("5000"), QStringLiteral("20000")} : args;
    for (const QString &count : counts) {
        // A fresh process each, so one run's heap does not flatter or burden the next.
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QStringList childArgs = {QStringLiteral("--run"), count};
        if (!withImages)
            childArgs.append(QStringLiteral("--no-images"));
        child.start(QCoreApplication::applicationFilePath(), childArgs);
        child.waitForFinished(-1);
    }
    return 0;
}
