// The running application: CPU used while idle, resident memory with 10,000 items stored,
// and the latency from an outside copy to the item being saved. Needs an X server:
//   tests/tools/run-under-xvfb.sh --window-manager build/bench/bench_app build/app/kestrelnote [idle-seconds]
#include "capture/ContentHash.h"
#include "store/ClipItem.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

void prefill(const QString &path, int count)
{
    StoreContainer container(QStringLiteral("Kestrelnote"));
    container.storeDescription().path = path;
    if (!container.loadPersistentStore())
        qFatal("store did not open");
    StoreContext &context = *container.viewContext();
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-10);
    for (int i = 0; i < count; ++i) {
        const QString text = QStringLiteral("history item %1: some copied words of a usual length").arg(i);
        const auto item = context.insert<ClipItem>();
        item->setId(QUuid::createUuid());
        item->setCreatedAt(start.addSecs(i));
        item->setKind(ClipKind::Text);
        item->setPlainText(text);
        item->setContentHash(computeContentHash(text, std::nullopt));
        if ((i + 1) % 1000 == 0 && !context.save())
            qFatal("prefill failed");
    }
    if (!context.save())
        qFatal("prefill failed");
}

// User plus system CPU time of a process, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() < 2) {
        std::fprintf(stderr, "usage: bench_app KESTRELNOTE [IDLE_SECONDS]\n");
        return 2;
    }
    const QString kestrelnote = app.arguments().at(1);
    const int idleSeconds = app.arguments().size() > 2 ? app.arguments().at(2).toInt() : 60;

    QTemporaryDir home;
    const QString data = home.filePath(QStringLiteral("data"));
    QDir().mkpath(data + QStringLiteral("/marrowfieldco/kestrelnote"));
    QDir().mkpath(home.filePath(QStringLiteral("run")));
    QFile::setPermissions(home.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString storePath = data + QStringLiteral("/marrowfieldco/kestrelnote/Kestrelnote.sqlite");
    prefill(storePath, 10000);
    // A limit above what is stored, so nothing is trimmed away.
    QDir().mkpath(home.filePath(QStringLiteral("config/marrowfieldco")));
    QFile config(home.filePath(QStringLiteral("config/marrowfieldco/kestrelnote.conf")));
    if (!config.open(QIODevice::WriteOnly) || config.write("[General]\nhistoryLimit=20000\n") < 0)
        qFatal("cannot write the settings");
    config.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), data);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    QProcess application;
    application.setProcessEnvironment(env);
    application.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    application.start(kestrelnote, {QStringLiteral("-platform"), QStringLiteral("xcb")});
    if (!application.waitForStarted())
        qFatal("kestrelnote did not start");
    QThread::sleep(3); // launch, migrations, first polls

    const qint64 pid = application.processId();
    const double cpuBefore = cpuSeconds(pid);
    QThread::sleep(idleSeconds);
    const double cpuIdle = cpuSeconds(pid) - cpuBefore;
    std::printf("idle CPU over %d s: %.3f s, %.3f %% of one core\n", idleSeconds, cpuIdle, 100.0 * cpuIdle / idleSeconds);
    std::printf("resident memory, idle with 10,000 items stored: %.1f MB\n", double(residentKiB(pid)) / 1024.0);

    StoreContainer watcher(QStringLiteral("Kestrelnote"));
    watcher.storeDescription().path = storePath;
    watcher.storeDescription().remoteChangeNotifications = false;
    if (!watcher.loadPersistentStore())
        qFatal("store did not open");
    FetchRequest newest = FetchRequest::of<ClipItem>();
    newest.setSortDescriptors({{QStringLiteral("createdAt"), false}});
    newest.setFetchLimit(1);
    const auto newestText = [&] {
        const auto items = watcher.viewContext()->fetch<ClipItem>(newest);
        return items && !items->isEmpty() ? items->first()->plainText().value_or(QString()) : QString();
    };

    QList<double> latencies;
    for (int i = 0; i < 50; ++i) {
        const QString probe = QStringLiteral("latency probe %1").arg(i);
        QProcess xclip;
        xclip.setProcessEnvironment(env);
        xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")});
        xclip.write(probe.toUtf8());
        xclip.closeWriteChannel();
        xclip.waitForFinished(); // xclip leaves once it owns the clipboard
        QElapsedTimer timer;
        timer.start();
        while (newestText() != probe && timer.elapsed() < 5000)
            QThread::msleep(2);
        latencies.append(double(timer.nsecsElapsed()) / 1e6);
        QThread::msleep(100 + 37 * (i % 5)); // copies at varied phases of the poll
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("outside copy to saved item, 50 copies: median %.0f ms, p90 %.0f ms (the poll every 250 ms included)\n",
                latencies.at(25), latencies.at(45));

    application.terminate();
    application.waitForFinished();
    return 0;
}
