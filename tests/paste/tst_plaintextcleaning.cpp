#include "paste/PlainTextCleaning.h"

#include <QTest>

class TestPlainTextCleaning : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleans_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no-break space") << QStringLiteral("a\u00A0b") << QStringLiteral("a b");
        QTest::newRow("wide spaces") << QStringLiteral("a\u2003b\u3000c") << QStringLiteral("a b c");
        QTest::newRow("icon bullet and space at line start")
            << QStringLiteral("\uE001 word") << QStringLiteral("word");
        QTest::newRow("icon bullet on every line")
            << QStringLiteral("\uF0DA one\n\uF0DA\ttwo\r\n\uF0DA three")
            << QStringLiteral("one\ntwo\r\nthree");
        QTest::newRow("glyph in mid-line keeps the space")
            << QStringLiteral("a\uE001 b") << QStringLiteral("a b");
        QTest::newRow("line separator") << QStringLiteral("a\u2028b\u2029c") << QStringLiteral("a\nb\nc");
        QTest::newRow("indentation without glyph stays")
            << QStringLiteral("  two spaces\n\tand a tab") << QStringLiteral("  two spaces\n\tand a tab");
        QTest::newRow("only one blank after the glyph goes")
            << QStringLiteral("\uE001  word") << QStringLiteral(" word");
        QTest::newRow("invisibles everywhere")
            << QStringLiteral("\uFEFFzero\u200Bwidth soft\u00ADhyphen word\u2060joiner")
            << QStringLiteral("zerowidth softhyphen wordjoiner");
        QTest::newRow("invisible at line start drops the space after it")
            << QStringLiteral("\u200B indented") << QStringLiteral("indented");
        QTest::newRow("supplementary private use (plane 15)")
            << QStringLiteral("\U000F0001 x") << QStringLiteral("x");
        QTest::newRow("emoji and other astral characters stay")
            << QStringLiteral("\U0001F600 𝄞") << QStringLiteral("\U0001F600 𝄞");
        QTest::newRow("carriage returns and tabs stay")
            << QStringLiteral("a\r\n\tb\tc") << QStringLiteral("a\r\n\tb\tc");
        QTest::newRow("after line separator is a line start")
            << QStringLiteral("a\u2028\uE000 b") << QStringLiteral("a\nb");
        const QString unpaired = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b");
        QTest::newRow("unpaired surrogate passes through") << unpaired << unpaired;
        QTest::newRow("empty") << QString() << QString();
    }

    void cleans()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(cleanPlainText(input), expected);
    }
};

QTEST_GUILESS_MAIN(TestPlainTextCleaning)
#include "tst_plaintextcleaning.moc"
