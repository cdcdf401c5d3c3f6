// kestrelnote import-paste, run as a user's shell would run it.
#include "../import/PasteDatabaseBuilder.h"
#include "CliEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// The executable with XDG folders and a temporary directory of its own.
class Cli
{
public:
    Cli()
    {
        makePrivateRuntimeFolder(m_home);
        QDir(m_home.path()).mkpath(QStringLiteral("tmp"));
    }

    QString pasteFolder() const { return m_home.filePath(QStringLiteral("Paste")); }
    QStringList leftovers() const
    {
        return QDir(m_home.filePath(QStringLiteral("tmp"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    void start(QProcess &process, const QStringList &args) const
    {
        QProcessEnvironment env = cliEnvironment(m_home);
        env.insert(QStringLiteral("TMPDIR"), m_home.filePath(QStringLiteral("tmp")));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(KN_KESTRELNOTE), args);
        process.closeWriteChannel();
    }

    struct Run {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Run operator()(const QStringList &args) const
    {
        QProcess process;
        start(process, args);
        if (!process.waitForFinished(120000))
            return {};
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

private:
    QTemporaryDir m_home;
};

} // namespace

class TestImportCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void importsAndPrintsTheSummary()
    {
        Cli cli;
        PasteDatabaseBuilder builder(cli.pasteFolder() + QStringLiteral("/db.sqlite"));
        builder.addTexts(3, QStringLiteral("item "), builder.addList(QStringLiteral("Work")), 3);
        builder.close();
        const Cli::Run first = cli({QStringLiteral("import-paste"), cli.pasteFolder()});
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(first.out, QStringLiteral("Imported 3 items and 1 pinboard as labels.\n"));
        // Not a terminal: plain lines, the last at 100%.
        QVERIFY2(first.err.contains(QStringLiteral("Importing: 100% (3 of 3 items")), qPrintable(first.err));
        QVERIFY(!first.err.contains(QLatin1Char('\r')));

        const Cli::Run list = cli({QStringLiteral("list"), QStringLiteral("--json")});
        const QJsonArray items = QJsonDocument::fromJson(list.out.toUtf8()).array();
        QCOMPARE(items.size(), 3);
        QVERIFY(cli({QStringLiteral("labels")}).out.contains(QStringLiteral("Work")));

        const Cli::Run second = cli({QStringLiteral("import-paste"), cli.pasteFolder()});
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(second.out, QStringLiteral("Imported 0 items (skipped 3 already here).\n"));
        QCOMPARE(cli.leftovers(), QStringList());
    }

    void failuresSayWhyAndExitWithOne_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("no database") << QStringList{QStringLiteral("import-paste"), QStringLiteral("/")} << 1
                                     << QStringLiteral("kestrelnote: That folder doesn't contain Paste's database (db.sqlite).\n");
        QTest::newRow("no folder") << QStringList{QStringLiteral("import-paste")} << 2
                                   << QStringLiteral("kestrelnote: import-paste takes Paste's data folder\nTry 'kestrelnote help'.\n");
    }
    void failuresSayWhyAndExitWithOne()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        Cli cli;
        const Cli::Run run = cli(args);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.endsWith(message), qPrintable(run.err));
    }

    void interruptStopsCleanlyWithTheSummary_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("Ctrl+C") << SIGINT;
        QTest::newRow("terminated") << SIGTERM;
        QTest::newRow("hung up") << SIGHUP;
    }
    void interruptStopsCleanlyWithTheSummary()
    {
        QFETCH(int, signalNumber);
        Cli cli;
        PasteDatabaseBuilder(cli.pasteFolder() + QStringLiteral("/db.sqlite")).addTexts(20000, QStringLiteral("item "));
        // Every item is imported, so the run lasts long enough to be interrupted.
        QCOMPARE(cli({QStringLiteral("settings"), QStringLiteral("set"), QStringLiteral("historyLimit"),
                      QStringLiteral("100000")}).exitCode, 0);
        QProcess process;
        cli.start(process, {QStringLiteral("import-paste"), cli.pasteFolder()});
        // The first progress line says the rows are being read.
        process.setReadChannel(QProcess::StandardError);
        QVERIFY(QTest::qWaitFor([&] {
            process.waitForReadyRead(100);
            return process.peek(1 << 16).contains("Importing:") || process.state() == QProcess::NotRunning;
        }, 60000));
        QCOMPARE(process.state(), QProcess::Running);
        ::kill(pid_t(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(out.endsWith(QStringLiteral(" \u2014 stopped early.\n")), qPrintable(out));
        // What was imported before the stop is saved, and only that.
        const QRegularExpressionMatch imported = QRegularExpression(QStringLiteral("^Imported (\\d+) items")).match(out);
        QVERIFY(imported.hasMatch());
        QVERIFY(imported.captured(1).toInt() < 20000);
        QCOMPARE(cli({QStringLiteral("count")}).out.trimmed(), imported.captured(1));
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(QStringLiteral("Stopping after the current item")));
        QCOMPARE(cli.leftovers(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestImportCommand)
#include "tst_importcommand.moc"
