#include "app/cli/ImportProgress.h"

#include <QTest>

class TestImportProgress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plainLinesEveryFewPercent()
    {
        QString text;
        QTextStream stream(&text);
        ImportProgress progress(stream, false);
        for (qint64 done = 20; done <= 1000; done += 20)
            progress.update(done, 1000);
        progress.update(1000, 1000);
        progress.finish();
        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // One line per 5 % step: 0 % is never reported (the first report is at 2 %).
        QCOMPARE(lines.size(), 21);
        QVERIFY(lines.first().startsWith(QStringLiteral("Importing: 2% (20 of 1000 items")));
        QVERIFY(lines.last().startsWith(QStringLiteral("Importing: 100% (1000 of 1000 items")));
        QVERIFY(!text.contains(QLatin1Char('\r')));
    }

    void aBarRedrawnInPlaceOnATerminal()
    {
        QString text;
        QTextStream stream(&text);
        ImportProgress progress(stream, true);
        progress.update(250, 1000);
        progress.update(260, 1000); // within the redraw interval: skipped
        QTest::qWait(150);
        progress.update(500, 1000);
        progress.update(1000, 1000); // the last is always drawn
        progress.finish();
        const QStringList draws = text.split(QLatin1Char('\r'), Qt::SkipEmptyParts);
        QCOMPARE(draws.size(), 3);
        QVERIFY2(draws.at(0).startsWith(QStringLiteral("[#######.......................] 25% 250 of 1000 items")),
                 qPrintable(draws.at(0)));
        QVERIFY2(draws.at(1).contains(QStringLiteral("items/s")) && draws.at(1).contains(QStringLiteral("left")),
                 qPrintable(draws.at(1)));
        QVERIFY(draws.at(2).startsWith(QStringLiteral("[##############################] 100% 1000 of 1000 items")));
        QVERIFY(text.endsWith(QLatin1Char('\n')));
    }
};

QTEST_GUILESS_MAIN(TestImportProgress)
#include "tst_importprogress.moc"
