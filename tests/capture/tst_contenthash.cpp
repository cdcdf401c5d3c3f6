#include "capture/ContentHash.h"

#include <QTest>

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

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
        // UTF-8 of the text, then the image bytes, with no separator.
        QTest::newRow("text and image") << std::optional<QString>(QStringLiteral("Résumé ✓ 𝄞"))
                                        << std::optional<QByteArray>(QByteArray("\x89PNG\r\n\x1a\n\x00\x01", 10))
                                        << qint64(1917201541786275531LL);
        QTest::newRow("image only") << std::optional<QString>()
                                    << std::optional<QByteArray>(QByteArray("\x89PNG\r\n\x1a\n\x00\x01", 10))
                                    << qint64(654010929322105896LL);
        QTest::newRow("split between text and image does not matter")
            << std::optional<QString>(QStringLiteral("ab")) << std::optional<QByteArray>(QByteArray("c"))
            << qint64(-1527000031757436742LL);
    }

    void knownValues()
    {
        QFETCH(std::optional<QString>, text);
        QFETCH(std::optional<QByteArray>, image);
        QFETCH(qint64, hash);
        QCOMPARE(computeContentHash(text, image), hash);
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
