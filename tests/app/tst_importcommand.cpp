// kestrelnote import-paste, run as a user's shell would run it.
#include "../import/PasteDatabaseBuilder.h"
#include "CliEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

class TestImportCommand : public QObject
{
    Q_OBJECT

private:
    // Starts an import of 20,000 items and returns once its first progress line says the
    // rows are being read: every item is imported, so it lasts long enough to be interrupted.
    static void startLongImport(CliHome &cli, QProcess &process)
    {
        PasteDatabaseBuilder(cli.path("Paste/db.sqlite")).addTexts(20000, u"item "_s);
        QCOMPARE(cli("settings", "set", "historyLimit", "100000").exitCode, 0);
        cli.start(process, {u"import-paste"_s, cli.path("Paste")});
        process.closeWriteChannel();
        process.setReadChannel(QProcess::StandardError);
        QVERIFY(QTest::qWaitFor([&] {
            process.waitForReadyRead(100);
            return process.peek(1 << 16).contains("Importing:") || process.state() == QProcess::NotRunning;
        }, 60000));
        QCOMPARE(process.state(), QProcess::Running);
    }

private Q_SLOTS:
    void importsAndPrintsTheSummary()
    {
        CliHome cli;
        const QString folder = cli.path("Paste");
        PasteDatabaseBuilder builder(folder + u"/db.sqlite"_s);
        builder.addTexts(3, u"item "_s, builder.addList(u"Work"_s), 3);
        builder.close();
        const CliRun first = cli("import-paste", folder);
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(first.out, QByteArray("Imported 3 items and 1 pinboard as labels.\n"));
        // Not a terminal: plain lines, the last at 100%.
        QVERIFY2(first.err.contains("Importing: 100% (3 of 3 items"), first.err.constData());
        QVERIFY(!first.err.contains('\r'));
        QCOMPARE(QJsonDocument::fromJson(cli("list", "--json").out).array().size(), 3);
        QVERIFY(cli("labels").out.contains("Work"));

        const CliRun second = cli("import-paste", folder);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(second.out, QByteArray("Imported 0 items (skipped 3 already here).\n"));
        QCOMPARE(cli.leftoversInTmp(), QStringList());
    }

    void failuresSayWhy_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("no database") << QStringList{u"import-paste"_s, u"/"_s} << 1
                                     << QByteArray("kestrelnote: That folder doesn't contain Paste's database (db.sqlite).\n");
        QTest::newRow("no folder") << QStringList{u"import-paste"_s} << 2
                                   << QByteArray("kestrelnote: import-paste takes Paste's data folder\nTry 'kestrelnote help'.\n");
    }

    void failuresSayWhy()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        const CliRun run = CliHome().run(args);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, QByteArray());
        QVERIFY2(run.err.endsWith(message), run.err.constData());
    }

    // A hang-up used to kill it mid-row and leave the private copy of Paste's database behind.
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
        CliHome cli;
        QProcess process;
        startLongImport(cli, process);
        if (QTest::currentTestFailed())
            return;
        ::kill(pid_t(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(out.endsWith(u" \u2014 stopped early.\n"_s), qPrintable(out));
        // What was imported before the stop is saved, and only that.
        const QRegularExpressionMatch imported = QRegularExpression(u"^Imported (\\d+) items"_s).match(out);
        QVERIFY(imported.hasMatch());
        QVERIFY(imported.captured(1).toInt() < 20000);
        QCOMPARE(cli("count").line(), imported.captured(1));
        QVERIFY(process.readAllStandardError().contains("Stopping after the current item"));
        QCOMPARE(cli.leftoversInTmp(), QStringList());
    }

    // A second signal ends the command at once, without the worker's clean-up; the private
    // copy of Paste's history used to stay behind in the temporary folder.
    void aSecondInterruptEndsAtOnceWithoutLeavingTheCopy()
    {
        CliHome cli;
        QProcess process;
        startLongImport(cli, process);
        if (QTest::currentTestFailed())
            return;
        // Two different signals, so the kernel cannot merge them into one.
        ::kill(pid_t(process.processId()), SIGINT);
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(cli.leftoversInTmp(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestImportCommand)
#include "tst_importcommand.moc"
