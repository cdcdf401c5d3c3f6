#include "import/PastePayloadDecoder.h"

#include <QTest>

using PastePayloadDecoder::decodeNumericEntities;
using PastePayloadDecoder::htmlToText;

Q_DECLARE_METATYPE(std::optional<QString>)

class TestHtmlToText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void html_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<std::optional<QString>>("expected");
        const auto text = [](const QString &s) { return std::optional<QString>(s); };
        QTest::newRow("paragraph, script, entities")
            << QByteArray("<p>a&amp;b</p><script>x</script>&#65;&#x42;") << text(QStringLiteral("a&b\nAB"));
        QTest::newRow("elements dropped with content, any case, across lines")
            << QByteArray("<HEAD><title>t</title></head><STYLE type=\"text/css\">\np{}\n</Style>body")
            << text(QStringLiteral("body"));
        QTest::newRow("closing tag must name the same element")
            << QByteArray("<script>a</style>b</script>c") << text(QStringLiteral("c"));
        QTest::newRow("word boundary after the element name")
            << QByteArray("<scripts>kept</scripts>") << text(QStringLiteral("kept"));
        QTest::newRow("line breaks and closing block tags")
            << QByteArray("a<br>b<BR/>c<br />d<div>e</div><li>f</li><h3>g</h3><td>h</td><tr>i</tr>")
            << text(QStringLiteral("a\nb\nc\nde\nf\ng\nhi"));
        QTest::newRow("quoted greater-than inside a tag")
            << QByteArray("<a title=\"1 > 0\" alt='x>y'>link</a>") << text(QStringLiteral("link"));
        QTest::newRow("named entities, amp last")
            << QByteArray("&lt;b&gt; &quot;q&quot; &apos;s&apos; &amp;lt; x&nbsp;y")
            << text(QStringLiteral("<b> \"q\" 's' &lt; x\u00A0y"));
        QTest::newRow("named entities are case-sensitive") << QByteArray("&AMP; &Lt;") << text(QStringLiteral("&AMP; &Lt;"));
        QTest::newRow("trimmed, including no-break spaces at the ends")
            << QByteArray("\n  <p> text </p>&nbsp;") << text(QStringLiteral("text"));
        QTest::newRow("utf-16 when not utf-8")
            << QByteArray("\xff\xfe<\0b\0>\0\xe9\0<\0/\0b\0>\0", 18) << text(QStringLiteral("\u00e9"));
        QTest::newRow("neither utf-8 nor utf-16") << QByteArray("\xff\xfe\x00", 3) << std::optional<QString>();
        QTest::newRow("only tags") << QByteArray("<p></p>") << text(QString());
        // Past some 20,000 characters the regular-expression engine ran out of stack and the
        // tag stayed in the text.
        QTest::newRow("a long tag") << QByteArray("before<a ") + QByteArray(30000, 'x') + "\"'>'\">after"
                                    << text(QStringLiteral("beforeafter"));
    }

    void html()
    {
        QFETCH(QByteArray, html);
        QFETCH(std::optional<QString>, expected);
        const auto text = htmlToText(html);
        QCOMPARE(text.has_value(), expected.has_value());
        if (text)
            QCOMPARE(*text, *expected);
    }

    void numericEntities_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("decimal and hex") << QStringLiteral("&#65;&#x42;&#x1F600;") << QStringLiteral("AB\U0001F600");
        QTest::newRow("surrogate stays") << QStringLiteral("&#xD800;") << QStringLiteral("&#xD800;");
        QTest::newRow("beyond unicode stays") << QStringLiteral("&#1114112;") << QStringLiteral("&#1114112;");
        QTest::newRow("last scalar") << QStringLiteral("&#x10FFFF;") << QStringLiteral("\U0010FFFF");
        QTest::newRow("nul becomes U+0000") << QStringLiteral("a&#0;b") << QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b");
        QTest::newRow("upper-case X stays") << QStringLiteral("&#X41;") << QStringLiteral("&#X41;");
        QTest::newRow("hex letters in decimal stay") << QStringLiteral("&#4A;") << QStringLiteral("&#4A;");
        QTest::newRow("overflowing 32 bits stays") << QStringLiteral("&#4294967361;") << QStringLiteral("&#4294967361;");
        QTest::newRow("leading zeros") << QStringLiteral("&#x0000041;") << QStringLiteral("A");
    }

    void numericEntities()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(decodeNumericEntities(text), expected);
    }

    // Markup that makes a backtracking engine retry from every position must still end;
    // ctest's timeout catches a run-away.
    void hostileMarkupEnds_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::newRow("unclosed angle brackets") << QByteArray(400000, '<');
        QTest::newRow("unclosed scripts") << QByteArray("<script>").repeated(50000);
        QTest::newRow("unclosed quotes") << QByteArray("<a \"").repeated(100000);
        QTest::newRow("tags without end") << QByteArray("<a b='c' ").repeated(50000);
        QTest::newRow("angle brackets before an unpaired quote") << QByteArray(200000, '<') + "\">";
        // Short enough for the engine's stack, so each '<' was followed to the quote.
        QTest::newRow("20,000 angle brackets before an unpaired quote") << QByteArray(20000, '<') + "\">";
        QTest::newRow("openers without end before one '>'") << QByteArray("<script ").repeated(40000) + ">";
        QTest::newRow("openers, one other closer") << QByteArray("<script>").repeated(50000) + "</style>";
    }

    void hostileMarkupEnds()
    {
        QFETCH(QByteArray, html);
        QVERIFY(htmlToText(html).has_value());
    }
};

QTEST_GUILESS_MAIN(TestHtmlToText)
#include "tst_htmltotext.moc"
