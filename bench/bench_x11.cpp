// The X11 back ends against a real X server. Run it under Xvfb with a window manager:
//   tests/tools/run-under-xvfb.sh --window-manager build/bench/bench_x11 [clipboard-owner]
// Prints: the latency from an outside copy (xclip) to the change being seen and read,
// over 50 copies; the cost of one front-application lookup; with the test clipboard owner
// given, how long reads take when the owner never answers.
#include "platform/x11/X11FrontApplication.h"
#include "platform/x11/X11Pasteboard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>
#include <QThread>

#include <algorithm>

namespace {

QTextStream out(stdout);

double percentile(QList<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(qsizetype(p * double(values.size() - 1)));
}

void report(const char *what, const QList<double> &ms)
{
    out << QStringLiteral("%1: median %2 ms, p90 %3 ms, max %4 ms (n=%5)\n")
               .arg(QLatin1String(what))
               .arg(percentile(ms, 0.5), 0, 'f', 2)
               .arg(percentile(ms, 0.9), 0, 'f', 2)
               .arg(percentile(ms, 1.0), 0, 'f', 2)
               .arg(ms.size());
}

void spinUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

void copyLatency(X11Pasteboard &pasteboard)
{
    QList<double> spawnToSeen, read, spawnToRead, xclipExit;
    for (int i = 0; i < 50; ++i) {
        const QByteArray text = "benchmark copy " + QByteArray::number(i);
        const qint64 before = pasteboard.changeCount();
        QElapsedTimer timer;
        timer.start();
        QProcess xclip;
        double exited = -1;
        QObject::connect(&xclip, &QProcess::finished, [&] { exited = double(timer.nsecsElapsed()) / 1e6; });
        xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-i")});
        xclip.write(text);
        xclip.closeWriteChannel();
        // Polled as fast as possible here; the monitor polls every 250 ms.
        spinUntil([&] { return pasteboard.changeCount() != before; }, 5000);
        const double seen = double(timer.nsecsElapsed()) / 1e6;
        QElapsedTimer reading;
        reading.start();
        const bool ok = pasteboard.types().has_value() && pasteboard.string() == QString::fromUtf8(text);
        const double readMs = double(reading.nsecsElapsed()) / 1e6;
        if (!ok)
            out << "copy " << i << " was not read back\n";
        spawnToSeen << seen;
        read << readMs;
        spawnToRead << seen + readMs;
        spinUntil([&] { return exited >= 0; }, 5000);
        xclipExit << exited;
    }
    report("xclip start -> change seen", spawnToSeen);
    report("change seen -> types and text read", read);
    report("xclip start -> read", spawnToRead);
    // xclip claims the clipboard, then its foreground process exits: most of the time above
    // is xclip starting up.
    report("xclip start -> its foreground process exited", xclipExit);
}

void frontApplicationCost()
{
    QProcess xterm;
    xterm.start(QStringLiteral("xterm"));
    auto front = X11FrontApplication::create();
    spinUntil([&] { return front->frontApplication().has_value(); }, 8000);
    if (!front->frontApplication()) {
        out << "front application: no active window\n";
        return;
    }
    // A fresh provider: the first lookup reads the desktop entries.
    QElapsedTimer cold;
    cold.start();
    auto fresh = X11FrontApplication::create();
    QThread::msleep(50);
    QCoreApplication::processEvents();
    const std::optional<FrontApplication> first = fresh->frontApplication();
    out << QStringLiteral("front application (first lookup, reads desktop entries): %1 ms -> %2 (%3)\n")
               .arg(double(cold.nsecsElapsed()) / 1e6 - 50, 0, 'f', 2)
               .arg(first ? first->localizedName.value_or(QString()) : QStringLiteral("none"),
                    first ? first->bundleIdentifier.value_or(QString()) : QString());
    QList<double> lookups;
    for (int i = 0; i < 1000; ++i) {
        QElapsedTimer timer;
        timer.start();
        const std::optional<FrontApplication> app = fresh->frontApplication();
        lookups << double(timer.nsecsElapsed()) / 1e6;
    }
    report("front application lookup", lookups);
    xterm.kill();
    xterm.waitForFinished();
}

void silentOwner(X11Pasteboard &pasteboard, const QString &owner)
{
    QProcess process;
    const qint64 before = pasteboard.changeCount();
    process.start(owner, {QStringLiteral("silent"), QStringLiteral("text/plain")});
    spinUntil([&] { return pasteboard.changeCount() != before; }, 5000);
    QElapsedTimer timer;
    timer.start();
    pasteboard.types();
    const double first = double(timer.nsecsElapsed()) / 1e6;
    pasteboard.string();
    pasteboard.fileUrls();
    pasteboard.data(QStringLiteral("image/png"));
    out << QStringLiteral("owner that never answers: first read %1 ms, all reads of the change %2 ms\n")
               .arg(first, 0, 'f', 1)
               .arg(double(timer.nsecsElapsed()) / 1e6, 0, 'f', 1);
    process.kill();
    process.waitForFinished();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    auto pasteboard = X11Pasteboard::create();
    if (!pasteboard) {
        out << "no X server\n";
        return 1;
    }
    copyLatency(*pasteboard);
    frontApplicationCost();
    if (argc > 1)
        silentOwner(*pasteboard, QString::fromLocal8Bit(argv[1]));
    return 0;
}
