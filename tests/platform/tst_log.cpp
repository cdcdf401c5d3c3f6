#include "platform/log/Log.h"

#include <QProcess>
#include <QTest>
#include <QtConcurrent>

#include <numeric>

class TestLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordersSeeLinesWithCategoryAndLevelWhileAlive()
    {
        klog::Recorder outer;
        {
            klog::Recorder recorder;
            klog::notice(klog::Category::Capture, QStringLiteral("one"));
            klog::error(klog::Category::Persistence, QStringLiteral("two"));
            klog::debug(klog::Category::Shelf, QStringLiteral("three"));

            const QList<klog::Line> lines = recorder.lines();
            QCOMPARE(lines.size(), 3);
            QCOMPARE(lines.at(1).category, klog::Category::Persistence);
            QCOMPARE(lines.at(1).level, klog::Level::Error);
            QCOMPARE(recorder.messages(klog::Level::Debug), QStringList{QStringLiteral("three")});
            QCOMPARE(recorder.messages(klog::Category::Capture, klog::Level::Default), QStringList{QStringLiteral("one")});
            QVERIFY(recorder.messages(klog::Category::Capture, klog::Level::Error).isEmpty());
        }
        klog::info(klog::Category::App, QStringLiteral("outer only"));
        QCOMPARE(outer.lines().size(), 4);
    }

    void writingFromManyThreadsLosesNothing()
    {
        klog::Recorder recorder;
        QList<int> numbers(2000);
        std::iota(numbers.begin(), numbers.end(), 0);
        QtConcurrent::blockingMap(numbers, [](int n) {
            klog::info(klog::Category::Import, QString::number(n));
        });
        QCOMPARE(recorder.lines().size(), 2000);
    }

    void qtWarningsArriveInTheAppCategory()
    {
        klog::installQtMessageHandler();
        klog::Recorder recorder;
        qWarning("from Qt");
        QCOMPARE(recorder.messages(klog::Category::App, klog::Level::Error),
                 QStringList{QStringLiteral("from Qt")});
    }

    void stderrLineNamesCategoryAndLevelButDebugIsDropped()
    {
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({QStringLiteral("emitForParent")});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KESTRELNOTE_LOG_STDERR"), QStringLiteral("1"));
        env.insert(QStringLiteral("KN_LOG_CHILD"), QStringLiteral("1"));
        env.remove(QStringLiteral("KESTRELNOTE_LOG_DEBUG"));
        child.setProcessEnvironment(env);
        child.start();
        QVERIFY(child.waitForFinished(10000));
        const QString err = QString::fromUtf8(child.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("kestrelnote [capture] error: visible")), qPrintable(err));
        QVERIFY2(!err.contains(QStringLiteral("hidden")), qPrintable(err));
    }

    void emitForParent()
    {
        if (!qEnvironmentVariableIsSet("KN_LOG_CHILD"))
            QSKIP("runs only as the child of stderrLineNamesCategoryAndLevelButDebugIsDropped");
        klog::error(klog::Category::Capture, QStringLiteral("visible"));
        klog::debug(klog::Category::Capture, QStringLiteral("hidden"));
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
