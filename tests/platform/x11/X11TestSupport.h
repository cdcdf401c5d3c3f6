#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <memory>

// Outside clients for the X11 tests: each test binary runs under its own Xvfb
// (tests/tools/run-under-xvfb.sh), so these talk to a server nobody else uses.
namespace x11test {

inline void stopClient(std::unique_ptr<QProcess> &process)
{
    if (!process)
        return;
    process->kill();
    process->waitForFinished(2000);
    process.reset();
}

// Starts a program and waits until it printed "ready"; none if it printed anything else.
inline std::unique_ptr<QProcess> startClient(const QString &program, const QStringList &arguments,
                                             int timeoutMs = 5000)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    if (!process->waitForStarted(timeoutMs))
        return nullptr;
    while (!process->canReadLine() && process->waitForReadyRead(timeoutMs)) { }
    if (!process->canReadLine() || process->readLine().trimmed() != "ready") {
        stopClient(process);
        return nullptr;
    }
    return process;
}

// Runs a command to completion and gives its standard output. The event loop keeps
// running meanwhile, so that the command can read what this process put on the clipboard.
inline QByteArray run(const QString &program, const QStringList &arguments,
                      const QByteArray &input = {}, int timeoutMs = 10000)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForStarted();
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    (void)QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    return process.readAllStandardOutput();
}

// Copies bytes to CLIPBOARD with xclip, which stays in the background as the owner.
inline void xclipCopy(const QByteArray &bytes, const QString &type = QString())
{
    QStringList arguments{QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-i")};
    if (!type.isEmpty())
        arguments << QStringLiteral("-t") << type;
    run(QStringLiteral("xclip"), arguments, bytes);
}

inline QByteArray xclipPaste(const QString &selection, const QString &type = QString())
{
    QStringList arguments{QStringLiteral("-selection"), selection, QStringLiteral("-o")};
    if (!type.isEmpty())
        arguments << QStringLiteral("-t") << type;
    return run(QStringLiteral("xclip"), arguments);
}

// Whether kn_test_text_window reports these contents of its field within a few seconds.
inline bool fieldShows(QProcess &window, const QString &text)
{
    QString seen;
    return QTest::qWaitFor([&] {
        while (window.canReadLine()) {
            const QString line = QString::fromUtf8(window.readLine()).chopped(1);
            if (line.startsWith(QLatin1String("text:")))
                seen = line.mid(5);
        }
        return seen == text;
    }, 5000);
}

} // namespace x11test
