#include "platform/log/Log.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <cstdio>
#include <vector>

#if KESTRELNOTE_HAVE_SYSTEMD
#include <systemd/sd-journal.h>
#endif

namespace klog {

struct RecorderState {
    mutable QMutex mutex;
    QList<Line> lines;
};

namespace {

QMutex &sinkMutex()
{
    static QMutex mutex;
    return mutex;
}

std::vector<RecorderState *> &recorders()
{
    static std::vector<RecorderState *> states;
    return states;
}

bool debugEnabled()
{
    static const bool enabled = qEnvironmentVariableIsSet("KESTRELNOTE_LOG_DEBUG");
    return enabled;
}

#if KESTRELNOTE_HAVE_SYSTEMD
bool journalAvailable()
{
    // sd_journal_send reports success even without journald, so look for its socket.
    static const bool available = QFileInfo::exists(QStringLiteral("/run/systemd/journal/socket"))
        && !qEnvironmentVariableIsSet("KESTRELNOTE_LOG_STDERR");
    return available;
}

int syslogPriority(Level level)
{
    switch (level) {
    case Level::Debug: return 7;
    case Level::Info: return 6;
    case Level::Default: return 5;
    case Level::Error: return 3;
    case Level::Fault: return 2;
    }
    return 5;
}
#endif

void writeToSystemLog(Category category, Level level, const QString &message)
{
#if KESTRELNOTE_HAVE_SYSTEMD
    if (journalAvailable()) {
        const QByteArray text = message.toUtf8();
        const QByteArray cat = categoryName(category).toUtf8();
        sd_journal_send("MESSAGE=%s", text.constData(),
                        "PRIORITY=%d", syslogPriority(level),
                        "SYSLOG_IDENTIFIER=kestrelnote",
                        "KESTRELNOTE_SUBSYSTEM=%s", subsystem,
                        "KESTRELNOTE_CATEGORY=%s", cat.constData(),
                        nullptr);
        return;
    }
#endif
    const QByteArray line = QStringLiteral("kestrelnote [%1] %2: %3\n")
                                .arg(categoryName(category), levelName(level), message)
                                .toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

QtMessageHandler previousQtHandler = nullptr;

void qtMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    Level level = Level::Default;
    switch (type) {
    case QtDebugMsg: level = Level::Debug; break;
    case QtInfoMsg: level = Level::Info; break;
    case QtWarningMsg: level = Level::Error; break;
    case QtCriticalMsg:
    case QtFatalMsg: level = Level::Fault; break;
    }
    write(Category::App, level, message);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

QString categoryName(Category category)
{
    switch (category) {
    case Category::App: return QStringLiteral("app");
    case Category::Capture: return QStringLiteral("capture");
    case Category::Persistence: return QStringLiteral("persistence");
    case Category::Shelf: return QStringLiteral("shelf");
    case Category::Import: return QStringLiteral("import");
    }
    return QStringLiteral("app");
}

QString levelName(Level level)
{
    switch (level) {
    case Level::Debug: return QStringLiteral("debug");
    case Level::Info: return QStringLiteral("info");
    case Level::Default: return QStringLiteral("default");
    case Level::Error: return QStringLiteral("error");
    case Level::Fault: return QStringLiteral("fault");
    }
    return QStringLiteral("default");
}

void write(Category category, Level level, const QString &message)
{
    QMutexLocker locker(&sinkMutex());
    for (RecorderState *state : recorders()) {
        QMutexLocker stateLocker(&state->mutex);
        state->lines.append({category, level, message});
    }
    if (level == Level::Debug && !debugEnabled())
        return;
    writeToSystemLog(category, level, message);
}

void installQtMessageHandler()
{
    QMutexLocker locker(&sinkMutex());
    if (!previousQtHandler)
        previousQtHandler = qInstallMessageHandler(qtMessageHandler);
}

Recorder::Recorder()
    : m_state(std::make_unique<RecorderState>())
{
    QMutexLocker locker(&sinkMutex());
    recorders().push_back(m_state.get());
}

Recorder::~Recorder()
{
    {
        QMutexLocker locker(&sinkMutex());
        auto &all = recorders();
        all.erase(std::remove(all.begin(), all.end(), m_state.get()), all.end());
    }
}

QList<Line> Recorder::lines() const
{
    QMutexLocker locker(&m_state->mutex);
    return m_state->lines;
}

QStringList Recorder::messages(Level level) const
{
    QMutexLocker locker(&m_state->mutex);
    QStringList result;
    for (const Line &line : m_state->lines) {
        if (line.level == level)
            result.append(line.message);
    }
    return result;
}

QStringList Recorder::messages(Category category, Level level) const
{
    QMutexLocker locker(&m_state->mutex);
    QStringList result;
    for (const Line &line : m_state->lines) {
        if (line.level == level && line.category == category)
            result.append(line.message);
    }
    return result;
}

void Recorder::clear()
{
    QMutexLocker locker(&m_state->mutex);
    m_state->lines.clear();
}

} // namespace klog
