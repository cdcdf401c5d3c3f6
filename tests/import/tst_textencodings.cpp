#include "import/codecs/TextEncodings.h"

#include <QStringDecoder>
#include <QTest>

Q_DECLARE_METATYPE(TextEncoding)
Q_DECLARE_METATYPE(std::optional<QString>)

class TestTextEncodings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Our own table against ICU's "macintosh" converter, byte for byte.
    void macOSRomanAgreesWithIcu()
    {
        QStringDecoder icu("macintosh");
        QVERIFY(icu.isValid());
        for (int byte = 0; byte < 256; ++byte) {
            const QByteArray single(1, char(byte));
            QCOMPARE(decodeMacOSRoman(single), icu.decode(single));
        }
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<TextEncoding>("encoding");
        QTest::addColumn<std::optional<QString>>("expected");
        using E = TextEncoding;
        const auto text = [](const QString &s) { return std::optional<QString>(s); };
        QTest::newRow("utf8") << QByteArray("caf\xc3\xa9 \xf0\x9f\x98\x80") << E::utf8 << text(QStringLiteral("caf\u00e9 \U0001F600"));
        QTest::newRow("utf8 invalid") << QByteArray("caf\xe9") << E::utf8 << std::optional<QString>();
        QTest::newRow("utf8 encoded surrogate") << QByteArray("\xed\xa0\x80") << E::utf8 << std::optional<QString>();
        QTest::newRow("utf8 truncated sequence") << QByteArray("a\xe2\x82") << E::utf8 << std::optional<QString>();
        QTest::newRow("utf8 empty") << QByteArray() << E::utf8 << text(QString());
        QTest::newRow("utf16 little-endian mark") << QByteArray("\xff\xfe" "a\0\xe9\0", 6) << E::utf16 << text(QStringLiteral("a\u00e9"));
        QTest::newRow("utf16 big-endian mark") << QByteArray("\xfe\xff\0a\0\xe9", 6) << E::utf16 << text(QStringLiteral("a\u00e9"));
        QTest::newRow("utf16 no mark") << QByteArray("a\0b\0", 4) << E::utf16 << text(QStringLiteral("ab"));
        QTest::newRow("utf16 odd length") << QByteArray("a\0b", 3) << E::utf16 << std::optional<QString>();
        QTest::newRow("utf16le ignores a big-endian mark")
            << QByteArray("\xfe\xff" "a\0", 4) << E::utf16LittleEndian << text(QString(QChar(0xFFFE)) + QLatin1Char('a'));
        QTest::newRow("utf16le drops its own mark") << QByteArray("\xff\xfe" "a\0", 4) << E::utf16LittleEndian << text(QStringLiteral("a"));
        QTest::newRow("mac os roman") << QByteArray("\x8e\xa5\xdb\xf0") << E::macOSRoman << text(QStringLiteral("\u00e9\u2022\u20ac\uF8FF"));
    }

    void decoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(TextEncoding, encoding);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(decodeText(bytes, encoding), expected);
    }

    void codePages_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<std::optional<QString>>("expected");
        const auto text = [](const QString &s) { return std::optional<QString>(s); };
        // 1252, 1251 and 932 are read in the RTF reader's own test.
        QTest::newRow("936") << QByteArray("\xc4\xe3\xba\xc3") << 936 << text(QStringLiteral("\u4f60\u597d"));
        QTest::newRow("437") << QByteArray("\x82") << 437 << text(QStringLiteral("\u00e9"));
        QTest::newRow("mac 10000") << QByteArray("\x8e") << 10000 << text(QStringLiteral("\u00e9"));
        QTest::newRow("unknown") << QByteArray("x") << 99999 << std::optional<QString>();
    }

    void codePages()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, codePage);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(decodeCodePage(bytes, codePage), expected);
    }
};

QTEST_GUILESS_MAIN(TestTextEncodings)
#include "tst_textencodings.moc"
