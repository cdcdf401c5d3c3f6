#include "capture/ContentHash.h"

#include <QCryptographicHash>
#include <QTest>

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {
// The hash written out the long way: digest bytes 0..7 as a little-endian signed integer.
qint64 referenceHash(const QByteArray &input)
{
    const QByteArray d = QCryptographicHash::hash(input, QCryptographicHash::Sha256);
    quint64 v = 0;
    for (int i = 0; i < 8; ++i)
        v |= quint64(quint8(d[i])) << (8 * i);
    return qint64(v);
}
}

class TestContentHash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownValues_data()
    {
        QTest::addColumn<std::optional<QString>>("text");
        QTest::addColumn<std::optional<QByteArray>>("image");
        QTest::addColumn<qint64>("hash");

        QTest::newRow("abc") << std::optional<QString>(QStringLiteral("abc"))
                             << std::optional<QByteArray>() << qint64(-1527000031757436742LL);
        QTest::newRow("nothing") << std::optional<QString>() << std::optional<QByteArray>()
                                 << qint64(1449310910991872227LL);
        QTest::newRow("empty text hashes like no text")
            << std::optional<QString>(QString()) << std::optional<QByteArray>(QByteArray())
            << qint64(1449310910991872227LL);
    }

    void knownValues()
    {
        QFETCH(std::optional<QString>, text);
        QFETCH(std::optional<QByteArray>, image);
        QFETCH(qint64, hash);
        QCOMPARE(computeContentHash(text, image), hash);
    }

    void textIsUtf8FollowedByImageBytesWithoutSeparator()
    {
        const QString text = QStringLiteral("Résumé ✓ 𝄞");
        const QByteArray bytes("\x89PNG\r\n\x1a\n\x00\x01", 10);
        QCOMPARE(computeContentHash(text, bytes), referenceHash(text.toUtf8() + bytes));
        QCOMPARE(computeContentHash(std::nullopt, bytes), referenceHash(bytes));
        // The split between text and bytes does not matter, only their concatenation.
        QCOMPARE(computeContentHash(QStringLiteral("ab"), QByteArray("c")),
                 computeContentHash(QStringLiteral("abc"), std::nullopt));
    }

    void noNormalisationOfText()
    {
        const QString composed = QStringLiteral("\u00e9");
        const QString decomposed = QStringLiteral("e\u0301");
        QVERIFY(computeContentHash(composed, std::nullopt) != computeContentHash(decomposed, std::nullopt));
    }
};

QTEST_GUILESS_MAIN(TestContentHash)
#include "tst_contenthash.moc"
