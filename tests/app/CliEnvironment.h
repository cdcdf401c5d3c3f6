#pragma once

// The executable run as a separate process with a private home: data, settings, runtime and
// temporary folders under a temporary directory, logging to stderr, no display unless kept.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QString line() const { return QString::fromUtf8(out).trimmed(); }
};

inline QString cliArgument(const char *text) { return QString::fromUtf8(text); }
inline QString cliArgument(const QString &text) { return text; }

class CliHome
{
public:
    enum class Display { Hidden, Kept };

    explicit CliHome(Display display = Display::Hidden)
    {
        QDir(m_home.path()).mkpath(QStringLiteral("run"));
        QDir(m_home.path()).mkpath(QStringLiteral("tmp"));
        QFile::setPermissions(path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("XDG_DATA_HOME"), path("data"));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path("run"));
        m_env.insert(QStringLiteral("TMPDIR"), path("tmp"));
        m_env.insert(QStringLiteral("KESTRELNOTE_LOG_STDERR"), QStringLiteral("1"));
        if (display == Display::Hidden)
            m_env.remove(QStringLiteral("DISPLAY"));
    }

    QString path(const char *relative) const { return m_home.filePath(QString::fromUtf8(relative)); }
    QString dataFolder() const { return path("data/marrowfieldco/kestrelnote"); }
    QStringList leftoversInTmp() const
    {
        return QDir(path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    void start(QProcess &process, const QStringList &args, const QString &program = QStringLiteral(KN_KESTRELNOTE)) const
    {
        process.setProcessEnvironment(m_env);
        process.start(program, args);
    }

    CliRun run(const QStringList &args, const QByteArray &input = {},
               const QString &program = QStringLiteral(KN_KESTRELNOTE)) const
    {
        QProcess process;
        start(process, args, program);
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(120000))
            return {};
        return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
    }

    // cli("add", "text", id): the executable with these arguments, nothing on standard input.
    template<typename... Args>
    CliRun operator()(const Args &...args) const
    {
        return run({cliArgument(args)...});
    }

private:
    QTemporaryDir m_home;
    QProcessEnvironment m_env;
};
