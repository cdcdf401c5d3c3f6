// Prints what capture and store maintenance cost as the history grows: capture latency of a
// short text and of a screenshot with 0, 10,000 and 100,000 items stored, the duplicate
// collapse over 100,000 items, and the hash migration's rate.
#include "capture/ClipboardCapture.h"
#include "capture/ContentHash.h"
#include "platform/defaults/UserDefaults.h"
#include "store/ClipItem.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

QString textOfSize(int n, int seed)
{
    QString text = QStringLiteral("item %1 ").arg(seed);
    while (text.size() < n)
        text += QStringLiteral("lorem ipsum dolor sit amet ");
    return text.left(n);
}

// Stores `count` distinct texts straight through a background context, 1,000 per save.
void prefill(StoreContainer &container, int count, int duplicatedGroups = 0)
{
    auto context = container.newBackgroundContext();
    context->performAndWait([&] {
        const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-30);
        for (int i = 0; i < count; ++i) {
            // The first duplicatedGroups texts appear twice.
            const int seed = i < 2 * duplicatedGroups ? i / 2 : i;
            const QString text = textOfSize(60 + seed % 120, seed);
            const auto item = context->insert<ClipItem>();
            item->setId(QUuid::createUuid());
            item->setCreatedAt(start.addMSecs(i));
            item->setKind(ClipKind::Text);
            item->setPlainText(text);
            item->setContentHash(computeContentHash(text, std::nullopt));
            if ((i + 1) % 1000 == 0 && !context->save())
                qFatal("prefill save failed");
        }
        if (!context->save())
            qFatal("prefill save failed");
        context->reset();
    });
}

template<typename Work>
QList<double> timesMs(int runs, Work &&work)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work(i);
        times.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times;
}

double percentile(const QList<double> &sorted, double p)
{
    return sorted.at(std::min<qsizetype>(sorted.size() - 1, qsizetype(p * double(sorted.size()))));
}

void captureAndWait(ClipboardCapture &capture, ClipboardPayload payload)
{
    QEventLoop loop;
    capture.capture(std::move(payload), [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
    loop.exec();
}

QByteArray screenshotPng()
{
    QImage image(1920, 1080, QImage::Format_ARGB32);
    image.fill(QColor(246, 246, 246));
    QPainter painter(&image);
    painter.fillRect(0, 0, 1920, 32, QColor(40, 44, 52));
    for (int y = 60; y < 1080; y += 20)
        painter.drawText(20, y, QStringLiteral("int main(int argc, char *argv[]) { return QApplication::exec(); } // %1").arg(y));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return png;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QByteArray screenshot = screenshotPng();

    // Store sizes may be given on the command line; the maintenance figures then are skipped.
    QList<int> sizes{0, 10000, 100000};
    if (app.arguments().size() > 1) {
        sizes.clear();
        for (const QString &size : app.arguments().mid(1))
            sizes.append(size.toInt());
    }
    for (int stored : std::as_const(sizes)) {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("kestrelnote.conf")));
        defaults.setInteger(SettingsKey::historyLimit, 1000000);
        StoreContainer container(QStringLiteral("Kestrelnote"));
        container.storeDescription().path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        if (!container.loadPersistentStore())
            qFatal("store did not open");
        prefill(container, stored);
        ClipboardCapture capture(container, defaults);

        const auto text = timesMs(200, [&](int i) {
            captureAndWait(capture, {ClipboardPayload::Text{textOfSize(200, 10000000 + i), std::nullopt}, std::nullopt, std::nullopt});
        });
        const auto image = timesMs(20, [&](int i) {
            QByteArray bytes = screenshot;
            bytes.append(char(i)); // distinct bytes, same decoded picture
            captureAndWait(capture, {ClipboardPayload::Image{bytes}, std::nullopt, std::nullopt});
        });
        std::printf("%6d items stored: 200-byte text capture median %.2f ms, p99 %.2f ms; "
                    "1920x1080 PNG capture median %.1f ms, p99 %.1f ms\n",
                    stored, percentile(text, 0.5), percentile(text, 0.99), percentile(image, 0.5), percentile(image, 0.99));
    }

    if (app.arguments().size() == 1) {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("kestrelnote.conf")));
        StoreContainer container(QStringLiteral("Kestrelnote"));
        container.storeDescription().path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        if (!container.loadPersistentStore())
            qFatal("store did not open");
        prefill(container, 100000, 100);
        ClipboardCapture capture(container, defaults);
        QElapsedTimer timer;
        timer.start();
        QEventLoop loop;
        capture.collapseAllDuplicates([&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
        loop.exec();
        std::printf("collapseAllDuplicates, 100 duplicated groups among 100,000 items: %.1f ms\n",
                    double(timer.nsecsElapsed()) / 1e6);

        // Every hash wrong, as in a store hashed another way.
        capture.context().performAndWait([&] {
            FetchRequest all = FetchRequest::of<ClipItem>();
            all.setFetchBatchSize(1000);
            auto items = capture.context().fetch<ClipItem>(all);
            for (const auto &item : *items)
                item->setContentHash(item->contentHash() ^ 1);
            if (!capture.context().save())
                qFatal("could not spoil the hashes");
            capture.context().reset();
        });
        timer.restart();
        QEventLoop migration;
        capture.runHashMigration([&migration] { QMetaObject::invokeMethod(&migration, &QEventLoop::quit, Qt::QueuedConnection); });
        migration.exec();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("hash migration over 99,900 items: %.1f s, %.0f items/s\n", seconds, 99900.0 / seconds);
    }
    return 0;
}
