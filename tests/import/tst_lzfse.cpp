#include "import/codecs/LzfseDecoder.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

QByteArray testData(const QString &relativePath)
{
    QFile file(QStringLiteral(KN_TEST_DATA_DIR "/lzfse/") + relativePath);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(relativePath));
    return file.readAll();
}

QByteArray littleEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xff);
    return bytes;
}

// One LZVN block followed by the end block.
QByteArray lzvnStream(quint32 rawSize, const QByteArray &code)
{
    return "bvxn" + littleEndian32(rawSize) + littleEndian32(quint32(code.size())) + code + "bvx$";
}

const QByteArray lzvnEnd("\x06\0\0\0\0\0\0\0", 8);

} // namespace

Q_DECLARE_METATYPE(lzfse::Error)

class TestLzfse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void vectorsDecodeToTheirOriginals_data()
    {
        QTest::addColumn<QString>("name");
        const QDir dir(QStringLiteral(KN_TEST_DATA_DIR "/lzfse"));
        const auto streams = dir.entryList({QStringLiteral("*.lzfse")}, QDir::Files, QDir::Name);
        QVERIFY(streams.size() >= 15);
        for (const QString &stream : streams) {
            const QString name = stream.chopped(6);
            QTest::newRow(qPrintable(name)) << name;
        }
    }

    void vectorsDecodeToTheirOriginals()
    {
        QFETCH(QString, name);
        const auto decoded = lzfse::decode(testData(name + QStringLiteral(".lzfse")),
                                           lzfse::defaultOutputLimit);
        QVERIFY2(decoded, qPrintable(decoded ? QString() : lzfse::describe(decoded.error())));
        QCOMPARE(*decoded, testData(name + QStringLiteral(".bin")));
    }

    void damagedStreamsFail_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<lzfse::Error>("error");
        using E = lzfse::Error;
        const auto bad = [](const char *name) { return testData(QStringLiteral("bad/") + QLatin1String(name)); };
        QTest::newRow("missing end") << bad("missing_end.lzfse") << E::Truncated;
        QTest::newRow("bad magic") << bad("bad_magic.lzfse") << E::UnknownBlock;
        QTest::newRow("lzvn raw one short") << bad("lzvn_raw_short.lzfse") << E::Corrupt;
        QTest::newRow("lzvn raw one long") << bad("lzvn_raw_long.lzfse") << E::Corrupt;
        QTest::newRow("lzvn undefined opcode") << bad("lzvn_undefined_opcode.lzfse") << E::Corrupt;
        QTest::newRow("distance before start") << bad("distance_before_start.lzfse") << E::Corrupt;
        QTest::newRow("raw truncated") << bad("raw_truncated.lzfse") << E::Truncated;
        QTest::newRow("bvx2 payload cut") << bad("bvx2_truncated_payload.lzfse") << E::Truncated;
        QTest::newRow("v1 frequency sum") << bad("v1_freq_sum_too_big.lzfse") << E::Corrupt;
        QTest::newRow("v1 L state") << bad("v1_l_state_out_of_range.lzfse") << E::Corrupt;
        QTest::newRow("no bytes") << QByteArray() << E::Truncated;
        QTest::newRow("three bytes") << QByteArray("bvx") << E::Truncated;
        QTest::newRow("previous distance before any")
            << lzvnStream(4, QByteArray("\xe1" "a" "\xf3", 3) + lzvnEnd) << E::Corrupt;
        QTest::newRow("explicit distance zero")
            << lzvnStream(4, QByteArray("\xe1" "a" "\x00\x00", 4) + lzvnEnd) << E::Corrupt;
        QTest::newRow("code after lzvn end")
            << lzvnStream(1, QByteArray("\xe1" "a", 2) + lzvnEnd + "\x0e") << E::Corrupt;
        QTest::newRow("lzvn literals past payload")
            << lzvnStream(5, QByteArray("\xe5" "ab", 3)) << E::Truncated;
    }

    void damagedStreamsFail()
    {
        QFETCH(QByteArray, stream);
        QFETCH(lzfse::Error, error);
        const auto decoded = lzfse::decode(stream, lzfse::defaultOutputLimit);
        QVERIFY(!decoded);
        QCOMPARE(decoded.error(), error);
    }

    void bytesAfterTheEndAreNotRead()
    {
        const auto decoded = lzfse::decode(testData(QStringLiteral("bad/trailing_garbage.lzfse")),
                                           lzfse::defaultOutputLimit);
        QVERIFY(decoded);
        QCOMPARE(*decoded, testData(QStringLiteral("medium_text.bin")));
        const auto endOnly = lzfse::decode("bvx$", lzfse::defaultOutputLimit);
        QVERIFY(endOnly);
        QVERIFY(endOnly->isEmpty());
    }

    void handWrittenLzvnInstructions()
    {
        // "abc", a small-distance match (3 back, 3 long), then an overlapping previous-distance match of 5.
        const QByteArray code = QByteArray("\xe3" "abc" "\x00\x03" "\xf5", 7) + lzvnEnd;
        QCOMPARE(lzfse::decode(lzvnStream(11, code), lzfse::defaultOutputLimit).value(), QByteArray("abcabcabcab"));
    }

    // Every prefix must fail; single damaged bytes anywhere must give an error or bounded
    // output, never a crash or a read outside the input (the sanitizer build checks that).
    void damagedCopiesOfVectors_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : {"json_archive", "plist_archive", "v1_header", "utf16_text", "long_run"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void damagedCopiesOfVectors()
    {
        QFETCH(QString, name);
        const QByteArray stream = testData(name + QStringLiteral(".lzfse"));
        for (qsizetype length = 0; length < stream.size(); ++length)
            QVERIFY2(!lzfse::decode(QByteArrayView(stream).first(length), lzfse::defaultOutputLimit),
                     qPrintable(QStringLiteral("prefix of %1 bytes decoded").arg(length)));
        const qsizetype limit = 1 << 20;
        int failures = 0;
        for (qsizetype at = 0; at < stream.size(); ++at) {
            for (const char mask : {'\x01', '\x80', '\xff'}) {
                QByteArray damaged = stream;
                damaged[at] = char(damaged[at] ^ mask);
                const auto decoded = lzfse::decode(damaged, limit);
                if (decoded)
                    QVERIFY(decoded->size() <= limit);
                else
                    ++failures;
            }
        }
        QVERIFY(failures > 0);
    }

    void packedBlockRawCountIsNotTrusted()
    {
        // The platform's decoder runs a block's triples whatever its raw count says.
        QByteArray stream = testData(QStringLiteral("plist_archive.lzfse"));
        stream.replace(4, 4, littleEndian32(1));
        const auto decoded = lzfse::decode(stream, lzfse::defaultOutputLimit);
        QVERIFY(decoded);
        QCOMPARE(*decoded, testData(QStringLiteral("plist_archive.bin")));
    }

    void literalPaddingBitsMustBeZero()
    {
        // long_run's literal payload is its 4 bytes right after the header; set the
        // highest bit of the last one, which is above the literal stream.
        QByteArray stream = testData(QStringLiteral("long_run.lzfse"));
        const quint32 headerSize = quint32(quint8(stream[24])) | quint32(quint8(stream[25])) << 8;
        const qsizetype lastLiteralByte = headerSize + 3;
        stream[lastLiteralByte] = char(stream[lastLiteralByte] | 0x80);
        QVERIFY(!lzfse::decode(stream, lzfse::defaultOutputLimit));
    }
};

QTEST_GUILESS_MAIN(TestLzfse)
#include "tst_lzfse.moc"
