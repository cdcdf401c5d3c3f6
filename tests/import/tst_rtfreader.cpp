#include "import/codecs/RtfReader.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

QByteArray rtfData(const QString &name)
{
    QFile file(QStringLiteral(KN_TEST_DATA_DIR "/rtf/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(name));
    return file.readAll();
}

std::optional<QString> read(const QByteArray &rtf)
{
    return rtf::plainText(rtf, rtf::defaultMaxDepth);
}

} // namespace

class TestRtfReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sameTextAsLibreOffice_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("letter") << QStringLiteral("libreoffice_letter");
        QTest::newRow("lists") << QStringLiteral("libreoffice_lists");
    }

    void sameTextAsLibreOffice()
    {
        QFETCH(QString, name);
        const auto text = read(rtfData(name + QStringLiteral(".rtf")));
        QVERIFY(text);
        QString expected = QString::fromUtf8(rtfData(name + QStringLiteral(".txt")));
        // LibreOffice's text filter starts with a byte-order mark.
        expected.remove(0, expected.startsWith(QChar(0xFEFF)) ? 1 : 0);
        // Intended difference: LibreOffice's text filter renders list labels itself
        // ("    • Apples", "    1. First"); the reader keeps the label the RTF carries in
        // \listtext, which LibreOffice writes as "•" and a tab, or " 1." and a tab.
        static const QRegularExpression bullet(QStringLiteral("^    \u2022 "), QRegularExpression::MultilineOption);
        static const QRegularExpression number(QStringLiteral("^    (\\d+\\.) "), QRegularExpression::MultilineOption);
        expected.replace(bullet, QStringLiteral("\u2022\t"));
        expected.replace(number, QStringLiteral(" \\1\t"));
        QCOMPARE(*text, expected);
    }

    void documents_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("expected");
        QTest::newRow("paragraphs, lines, tabs")
            << QByteArray("{\\rtf1 one\\par two\\line three\\tab four}") << QStringLiteral("one\ntwo\nthree\tfour");
        QTest::newRow("source line breaks are no text")
            << QByteArray("{\\rtf1 one\r\ntwo\n}") << QStringLiteral("onetwo");
        QTest::newRow("backslash before a line break is a paragraph")
            << QByteArray("{\\rtf1 a\\\nb}") << QStringLiteral("a\nb");
        QTest::newRow("escaped symbols")
            << QByteArray("{\\rtf1 \\{x\\} \\\\ a\\~b\\_c\\-d}") << QStringLiteral("{x} \\ a\u00A0b\u2011cd");
        QTest::newRow("control word delimiter space is eaten, the next is not")
            << QByteArray("{\\rtf1 \\b  bold\\b0 x}") << QStringLiteral(" boldx");
        QTest::newRow("header tables skipped")
            << QByteArray("{\\rtf1{\\fonttbl{\\f0 Helvetica;}}{\\colortbl;\\red0;}{\\stylesheet{\\s0 Normal;}}"
                          "{\\info{\\title T}}{\\pict 0a0b}body}")
            << QStringLiteral("body");
        QTest::newRow("ignorable destinations skipped")
            << QByteArray("{\\rtf1 a{\\*\\expandedcolortbl;;}{\\*\\unknown x{nested}}b}") << QStringLiteral("ab");
        QTest::newRow("field result kept, instruction skipped")
            << QByteArray("{\\rtf1 {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}}")
            << QStringLiteral("link");
        QTest::newRow("header and footnote are not body text")
            << QByteArray("{\\rtf1 {\\header h}a{\\footnote f}b}") << QStringLiteral("ab");
        QTest::newRow("windows-1252 by default")
            << QByteArray("{\\rtf1\\ansi caf\\'e9 \\'80\\'93q\\'94}") << QStringLiteral("caf\u00e9 \u20ac\u201cq\u201d");
        QTest::newRow("document code page")
            << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}") << QStringLiteral("\u041f\u0440\u0438");
        QTest::newRow("mac character set")
            << QByteArray("{\\rtf1\\mac \\'8e\\'db}") << QStringLiteral("\u00e9\u20ac");
        QTest::newRow("font character set, two-byte characters")
            << QByteArray("{\\rtf1\\ansi{\\fonttbl\\f0\\fswiss\\fcharset0 Helvetica;\\f1\\fnil\\fcharset128 Hiragino;}"
                          "\\f0 caf\\'e9 \\f1 \\'93\\'fa\\'96\\'7b}")
            << QStringLiteral("caf\u00e9 \u65e5\u672c");
        QTest::newRow("unicode with one stand-in")
            << QByteArray("{\\rtf1 \\u8364?5 \\u8220\\'93q}") << QStringLiteral("\u20ac5 \u201cq");
        QTest::newRow("unicode without stand-ins")
            << QByteArray("{\\rtf1\\uc0 \\u8364 5}") << QStringLiteral("\u20ac5");
        QTest::newRow("two stand-ins, a control word counts as one")
            << QByteArray("{\\rtf1\\uc2 \\u8364\\'80\\'80x\\u8364\\tab?y}") << QStringLiteral("\u20acx\u20acy");
        QTest::newRow("stand-in count ends with its group")
            << QByteArray("{\\rtf1 {\\uc3 \\u8364???}\\u8364?z}") << QStringLiteral("\u20ac\u20acz");
        QTest::newRow("negative unicode and surrogate pairs")
            << QByteArray("{\\rtf1 \\u-4064?\\u-10179?\\u-8704?}") << QStringLiteral("\uF020\U0001F600");
        QTest::newRow("binary data skipped")
            << QByteArray("{\\rtf1 a\\bin4 {}\\b}c") << QStringLiteral("ac");
        QTest::newRow("unbalanced braces")
            << QByteArray("{\\rtf1 a}}}b{{{c") << QStringLiteral("abc");
        QTest::newRow("bad hex escape ignored") << QByteArray("{\\rtf1 a\\'zzb\\'4") << QStringLiteral("azzb4");
        QTest::newRow("leading white space")
            << QByteArray("\r\n {\\rtf1 x}") << QStringLiteral("x");
        QTest::newRow("huge parameters clamp") << QByteArray("{\\rtf1 \\uc99999999999999 \\u99999999999999999?x}")
                                               << QStringLiteral("\uFFFF");
    }

    void documents()
    {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, expected);
        const auto text = read(rtf);
        QVERIFY(text);
        QCOMPARE(*text, expected);
    }

    void unreadable_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::newRow("not rtf") << QByteArray("plain text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("html") << QByteArray("<p>{\\rtf1 x}</p>");
        QTest::newRow("too deep") << QByteArray("{\\rtf1 ") + QByteArray(rtf::defaultMaxDepth + 1, '{') + "x";
    }

    void unreadable()
    {
        QFETCH(QByteArray, rtf);
        QVERIFY(!read(rtf));
    }

    void depthIsTheCallersChoice()
    {
        const QByteArray nested = "{\\rtf1 {{{x}}}}";
        QVERIFY(rtf::plainText(nested, 4));
        QVERIFY(!rtf::plainText(nested, 3));
    }
};

QTEST_GUILESS_MAIN(TestRtfReader)
#include "tst_rtfreader.moc"
