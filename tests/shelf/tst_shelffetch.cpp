#include "shelf/ShelfFetchRequest.h"
#include "tests/shelf/ShelfTestSupport.h"

using Kind = ShelfFilter::Kind;

namespace {

const QString labelA = QStringLiteral("6F1C2A9E-0B7D-4C35-9E21-5A8B3D4C7E10");
const QString labelB = QStringLiteral("0D3E8F52-91AB-4C7E-B6A0-2F4D1C9E8B37");

} // namespace

class TestShelfFetch : public QObject
{
    Q_OBJECT

private:
    TestStore m_store;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_store.container->isLoaded());
        // Oldest first; the shelf lists them newest first.
        addCards(m_store.view(), {
            {QStringLiteral("link"), ClipKind::Text, QStringLiteral("https://example.com/a b")},
            {QStringLiteral("LINK"), ClipKind::Text, QStringLiteral("HTTP://EXAMPLE.ORG/Page")},
            {QStringLiteral("spaced link"), ClipKind::Text, QStringLiteral(" https://leading.space")},
            {QStringLiteral("almost link"), ClipKind::Text, QStringLiteral("httpx://no")},
            {QStringLiteral("link file"), ClipKind::File, QStringLiteral("http://host/share/report.txt"),
             QStringLiteral("report.txt")},
            {QStringLiteral("cafe"), ClipKind::Text, QStringLiteral("Un CAFÉ au lait"), {}, QStringLiteral("Notes")},
            {QStringLiteral("titled"), ClipKind::Text, QStringLiteral("draft"), {}, {}, QStringLiteral("Résumé Draft")},
            {QStringLiteral("sourced"), ClipKind::Text, QStringLiteral("plain"), {}, QStringLiteral("TextÉdit")},
            {QStringLiteral("image"), ClipKind::Image, {}, {}, QStringLiteral("Screenshot Tool")},
            {QStringLiteral("pinned"), ClipKind::Text, QStringLiteral("pinned note"), {}, {}, {}, true, labelA},
            {QStringLiteral("files"), ClipKind::File, QStringLiteral("/home/u/My Files/a.txt\n/home/u/b.txt"),
             QStringLiteral("a.txt, b.txt")},
            {QStringLiteral("labelled"), ClipKind::Text, QStringLiteral("nospace"), {}, {}, {}, false, labelA},
            {QStringLiteral("other label"), ClipKind::Image, {}, {}, {}, {}, true, labelB},
        });
        QVERIFY(m_store.view()->save().ok());
    }

    void lists_data()
    {
        QTest::addColumn<ShelfFilter>("filter");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("everything, newest first")
            << ShelfFilter() << QString()
            << list({"other label", "labelled", "files", "pinned", "image", "sourced", "titled", "cafe", "link file",
                     "almost link", "spaced link", "LINK", "link"});
        QTest::newRow("links: any case, not after a space, not files")
            << ShelfFilter(Kind::Links) << QString() << list({"LINK", "link"});
        QTest::newRow("texts include links")
            << ShelfFilter(Kind::Texts) << QString()
            << list({"labelled", "pinned", "sourced", "titled", "cafe", "almost link", "spaced link", "LINK", "link"});
        QTest::newRow("images") << ShelfFilter(Kind::Images) << QString() << list({"other label", "image"});
        QTest::newRow("files") << ShelfFilter(Kind::Files) << QString() << list({"files", "link file"});
        QTest::newRow("pinned") << ShelfFilter(Kind::Pinned) << QString() << list({"other label", "pinned"});
        QTest::newRow("label") << ShelfFilter::label(labelA) << QString() << list({"labelled", "pinned"});
        QTest::newRow("label id in another case is another label")
            << ShelfFilter::label(labelA.toLower()) << QString() << QStringList();
        QTest::newRow("deleted label lists nothing")
            << ShelfFilter::label(QStringLiteral("9A1B2C3D-0000-4000-8000-000000000000")) << QString() << QStringList();

        QTest::newRow("lower-case word finds capitals with accents")
            << ShelfFilter(Kind::Texts) << QStringLiteral("cafe") << list({"cafe"});
        QTest::newRow("accented capitals find the same")
            << ShelfFilter(Kind::Texts) << QStringLiteral("CAFÉ") << list({"cafe"});
        QTest::newRow("through the title") << ShelfFilter(Kind::Texts) << QStringLiteral("resume") << list({"titled"});
        QTest::newRow("through the source name")
            << ShelfFilter(Kind::Texts) << QStringLiteral("textedit") << list({"sourced"});
        QTest::newRow("source name of an image")
            << ShelfFilter() << QStringLiteral("screenshot") << list({"image"});
        QTest::newRow("through file names") << ShelfFilter(Kind::Files) << QStringLiteral("B.TXT") << list({"files"});
        QTest::newRow("filter and search both apply")
            << ShelfFilter(Kind::Images) << QStringLiteral("cafe") << QStringList();
        QTest::newRow("one space is a real search")
            << ShelfFilter() << QStringLiteral(" ")
            << list({"files", "pinned", "image", "titled", "cafe", "spaced link", "link"});
        QTest::newRow("the text is not trimmed") << ShelfFilter() << QStringLiteral(" cafe ") << list({"cafe"});
        QTest::newRow("leading spaces that the text lacks find nothing")
            << ShelfFilter() << QStringLiteral("  cafe") << QStringList();
        QTest::newRow("one letter") << ShelfFilter(Kind::Pinned) << QStringLiteral("N") << list({"pinned"});
    }

    void lists()
    {
        QFETCH(ShelfFilter, filter);
        QFETCH(QString, search);
        QFETCH(QStringList, expected);

        const auto fetched = m_store.view()->fetch<ClipItem>(makeFetchRequest(search, filter));
        QVERIFY2(fetched.ok(), qPrintable(fetched.ok() ? QString() : fetched.error().localizedDescription()));
        QCOMPARE(names(*fetched), expected);
    }
};

QTEST_GUILESS_MAIN(TestShelfFetch)
#include "tst_shelffetch.moc"
