#include "capture/ContentHash.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Text = std::optional<QString>;
using Image = std::optional<QByteArray>;

Q_DECLARE_METATYPE(Text)
Q_DECLARE_METATYPE(Image)

class TestContentHash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownValues_data()
    {
        QTest::addColumn<Text>("text");
        QTest::addColumn<Image>("image");
        QTest::addColumn<qint64>("hash");
        const QByteArray png("\x89PNG\r\n\x1a\n\x00\x01", 10);
        QTest::newRow("abc") << Text(u"abc"_s) << Image() << qint64(-1527000031757436742LL);
        QTest::newRow("nothing") << Text() << Image() << qint64(1449310910991872227LL);
        QTest::newRow("empty hashes like nothing") << Text(QString()) << Image(QByteArray()) << qint64(1449310910991872227LL);
        // UTF-8 of the text, then the image bytes, with no separator.
        QTest::newRow("text and image") << Text(u"Résumé ✓ 𝄞"_s) << Image(png) << qint64(1917201541786275531LL);
        QTest::newRow("image only") << Text() << Image(png) << qint64(654010929322105896LL);
        QTest::newRow("split between text and image does not matter")
            << Text(u"ab"_s) << Image(QByteArray("c")) << qint64(-1527000031757436742LL);
    }

    void knownValues()
    {
        QFETCH(Text, text);
        QFETCH(Image, image);
        QFETCH(qint64, hash);
        QCOMPARE(computeContentHash(text, image), hash);
    }

    void noNormalisationOfText()
    {
        QVERIFY(computeContentHash(u"\u00e9"_s, std::nullopt) != computeContentHash(u"e\u0301"_s, std::nullopt));
    }
};

QTEST_GUILESS_MAIN(TestContentHash)
#include "tst_contenthash.moc"
