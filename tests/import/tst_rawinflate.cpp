#include "import/codecs/RawInflate.h"

#include "ArchiveBuilders.h"

#include <QRandomGenerator>
#include <QTest>

class TestRawInflate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTrips_data()
    {
        QTest::addColumn<QByteArray>("original");
        QByteArray random(100000, '\0');
        QRandomGenerator generator(7);
        for (char &c : random)
            c = char(generator.bounded(256));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("hello hello hello hello");
        QTest::newRow("incompressible") << random;
        QTest::newRow("very compressible") << QByteArray(3'000'000, 'z');
    }

    void roundTrips()
    {
        QFETCH(QByteArray, original);
        const auto inflated = rawdeflate::inflateRaw(testarchive::rawDeflate(original), 4 * 1024 * 1024);
        QVERIFY(inflated);
        QCOMPARE(*inflated, original);
    }

    void limitIsExact()
    {
        const QByteArray original(50000, 'a');
        const QByteArray stream = testarchive::rawDeflate(original);
        QVERIFY(rawdeflate::inflateRaw(stream, 50000));
        const auto over = rawdeflate::inflateRaw(stream, 49999);
        QVERIFY(!over);
        QCOMPARE(over.error(), rawdeflate::Error::OutputLimitReached);
    }

    void damagedStreams()
    {
        const QByteArray stream = testarchive::rawDeflate(QByteArray("some text that is long enough to matter").repeated(20));
        for (qsizetype length = 0; length < stream.size(); ++length)
            QVERIFY(!rawdeflate::inflateRaw(QByteArrayView(stream).first(length), 1 << 20));
        const auto truncated = rawdeflate::inflateRaw(QByteArrayView(stream).first(stream.size() / 2), 1 << 20);
        QCOMPARE(truncated.error(), rawdeflate::Error::Truncated);
        // Block type 3 does not exist.
        const auto corrupt = rawdeflate::inflateRaw(QByteArray("\x07\x00", 2), 1 << 20);
        QVERIFY(!corrupt);
        QCOMPARE(corrupt.error(), rawdeflate::Error::Corrupt);
        // A zlib-wrapped stream is not raw DEFLATE.
        QVERIFY(!rawdeflate::inflateRaw(qCompress(QByteArray("abc")).mid(4), 1 << 20));
    }
};

QTEST_GUILESS_MAIN(TestRawInflate)
#include "tst_rawinflate.moc"
