#include "platform/pasteboard/UriList.h"

#include <QTest>

class TestUriList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepsAbsoluteFileUrlsInOrder_data()
    {
        QTest::addColumn<QByteArray>("uriList");
        QTest::addColumn<QStringList>("paths");

        QTest::newRow("crlf, two files") << QByteArray("file:///home/u/x.txt\r\nfile:///tmp/y.png\r\n")
                                         << QStringList{QStringLiteral("/home/u/x.txt"), QStringLiteral("/tmp/y.png")};
        QTest::newRow("percent-encoded") << QByteArray("file:///home/u/R%C3%A9sum%C3%A9%20final.pdf")
                                         << QStringList{QStringLiteral("/home/u/Résumé final.pdf")};
        QTest::newRow("comments and blanks") << QByteArray("# copied\n\nfile:///a\n")
                                             << QStringList{QStringLiteral("/a")};
        QTest::newRow("web and relative left out")
            << QByteArray("https://example.com/\nx.txt\n../y\nfile:///b\nmailto:a@b.c\n")
            << QStringList{QStringLiteral("/b")};
        QTest::newRow("localhost kept, other hosts left out")
            << QByteArray("file://localhost/c\nfile://server/share/d\n")
            << QStringList{QStringLiteral("/c")};
        QTest::newRow("garbage") << QByteArray("\xff\xfe\x00\x01 %%% file:", 14) << QStringList{};
    }

    void keepsAbsoluteFileUrlsInOrder()
    {
        QFETCH(QByteArray, uriList);
        QFETCH(QStringList, paths);
        QStringList actual;
        for (const QUrl &url : fileUrlsFromUriList(uriList))
            actual.append(url.toLocalFile());
        QCOMPARE(actual, paths);
    }
};

QTEST_GUILESS_MAIN(TestUriList)
#include "tst_urilist.moc"
