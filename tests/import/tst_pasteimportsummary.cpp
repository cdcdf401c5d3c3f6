#include "import/PasteImportSummary.h"

#include <QTest>

class TestPasteImportSummary : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sentences_data()
    {
        QTest::addColumn<PasteImportSummary>("summary");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing") << PasteImportSummary{} << QStringLiteral("Imported 0 items.");
        QTest::newRow("only unreadable") << PasteImportSummary{0, 0, 3, 0, 0, false}
                                         << QStringLiteral("Imported 0 items (skipped 3 unreadable).");
        QTest::newRow("one and one") << PasteImportSummary{1, 0, 0, 0, 1, false}
                                     << QStringLiteral("Imported 1 item and 1 pinboard as labels.");
        QTest::newRow("everything, stopped") << PasteImportSummary{1203, 40, 3, 0, 2, true}
                                             << QStringLiteral("Imported 1203 items and 2 pinboards as labels (skipped 40 "
                                                               "already here, 3 unreadable) \u2014 stopped early.");
        QTest::newRow("all skipped parts in order") << PasteImportSummary{2, 1, 1, 1500, 0, false}
                                                    << QStringLiteral("Imported 2 items (skipped 1 already here, 1500 older "
                                                                      "than your Keep items limit, 1 unreadable).");
        QTest::newRow("no grouping") << PasteImportSummary{1234567, 0, 0, 0, 0, false}
                                     << QStringLiteral("Imported 1234567 items.");
    }
    void sentences()
    {
        QFETCH(PasteImportSummary, summary);
        QFETCH(QString, expected);
        QCOMPARE(sentence(summary), expected);
    }
};

QTEST_GUILESS_MAIN(TestPasteImportSummary)
#include "tst_pasteimportsummary.moc"
