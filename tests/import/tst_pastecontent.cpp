#include "import/PastePayloadDecoder.h"

#include <QTest>

using namespace PastePayloadDecoder;
using Content = ClipboardPayload::Content;
using Text = ClipboardPayload::Text;
using Image = ClipboardPayload::Image;
using File = ClipboardPayload::File;

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

Entry entry(std::initializer_list<std::pair<const char *, QByteArray>> data)
{
    Entry e;
    for (const auto &[type, bytes] : data) {
        e.types.append(QString::fromLatin1(type));
        e.dataByType.insert(QString::fromLatin1(type), bytes);
    }
    return e;
}

QString describeContent(const std::optional<Content> &content)
{
    if (!content)
        return QStringLiteral("none");
    if (const auto *text = std::get_if<Text>(&*content))
        return QStringLiteral("text \"%1\" rtf %2").arg(text->text, text->rtfData ? QString::fromLatin1(*text->rtfData) : QStringLiteral("none"));
    if (const auto *image = std::get_if<Image>(&*content))
        return QStringLiteral("image %1").arg(QString::fromLatin1(image->bytes.toHex()));
    const auto &file = std::get<File>(*content);
    return QStringLiteral("files \"%1\" at \"%2\"").arg(file.names, file.paths);
}

QString text(const char *plain, std::optional<QByteArray> rtf = std::nullopt)
{
    return describeContent(Content(Text{QString::fromUtf8(plain), std::move(rtf)}));
}
QString image(const QByteArray &bytes)
{
    return describeContent(Content(Image{bytes}));
}
QString files(const char *names, const char *paths)
{
    return describeContent(Content(File{QString::fromUtf8(names), QString::fromUtf8(paths)}));
}
const QString nothing = describeContent(std::nullopt);

const QByteArray png("\x89PNG\r\n\x1a\n....");
const QByteArray tiff("II*\0....", 8);

} // namespace

class TestPasteContent : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void priorities_data()
    {
        QTest::addColumn<int>("itemType");
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QVariant>("preview"); // a QVariantMap, or invalid for none
        QTest::addColumn<QString>("expected");
        const QVariant noPreview;
        const auto fileUrl = [](const char *url) { return entry({{"public.file-url", QByteArray(url)}}); };

        QTest::newRow("file url beats image type")
            << 1 << QList<Entry>{entry({{"public.png", png}}), fileUrl("file:///a/b.txt\n")} << noPreview
            << files("b.txt", "/a/b.txt");
        QTest::newRow("file urls joined, escapes decoded")
            << 0 << QList<Entry>{fileUrl("file:///Users/sam/Report%20Q3.pdf"), fileUrl("https://example.com/"), fileUrl("file:///tmp/dir/")}
            << noPreview << files("Report Q3.pdf, dir", "/Users/sam/Report Q3.pdf\n/tmp/dir");
        QTest::newRow("url that is no file url falls through to text")
            << 0 << QList<Entry>{entry({{"public.file-url", "not a url"}, {"public.utf8-plain-text", "t"}})} << noPreview << text("t");
        QTest::newRow("image item")
            << 1 << QList<Entry>{entry({{"public.utf8-plain-text", "caption"}, {"public.tiff", tiff}})} << noPreview << image(tiff);
        QTest::newRow("image item from preview")
            << 1 << QList<Entry>{} << QVariant(QVariantMap{{QStringLiteral("imageData"), png}, {QStringLiteral("text"), QStringLiteral("x")}})
            << image(png);
        QTest::newRow("empty preview image does not count")
            << 1 << QList<Entry>{}
            << QVariant(QVariantMap{{QStringLiteral("imageData"), QByteArray()}, {QStringLiteral("text"), QStringLiteral("x")}}) << text("x");
        QTest::newRow("text item ignores preview image")
            << 0 << QList<Entry>{} << QVariant(QVariantMap{{QStringLiteral("imageData"), png}}) << nothing;
        QTest::newRow("file item from preview paths")
            << 3 << QList<Entry>{}
            << QVariant(QVariantMap{{QStringLiteral("filePaths"), QVariantList{QStringLiteral("/a/b.txt"), QStringLiteral("/c/d/")}}})
            << files("b.txt, d", "/a/b.txt\n/c/d/");
        QTest::newRow("preview paths with a number are no files")
            << 3 << QList<Entry>{}
            << QVariant(QVariantMap{{QStringLiteral("filePaths"), QVariantList{QStringLiteral("/a"), 1}},
                                    {QStringLiteral("text"), QStringLiteral("fallback")}})
            << text("fallback");
        QTest::newRow("preview paths only count for file items")
            << 0 << QList<Entry>{} << QVariant(QVariantMap{{QStringLiteral("filePaths"), QVariantList{QStringLiteral("/a")}}}) << nothing;
        QTest::newRow("text with the first rtf of any entry")
            << 0 << QList<Entry>{entry({{"public.html", "<b>h</b>"}}), entry({{"public.rtf", "{\\rtf1 one}"}}),
                                 entry({{"public.utf8-plain-text", " plain "}, {"public.rtf", "{\\rtf1 two}"}})}
            << noPreview << text(" plain ", QByteArray("{\\rtf1 one}"));
        QTest::newRow("preview text before rich text")
            << 0 << QList<Entry>{entry({{"public.rtf", "{\\rtf1 rich}"}})}
            << QVariant(QVariantMap{{QStringLiteral("text"), QStringLiteral("preview")}}) << text("preview", QByteArray("{\\rtf1 rich}"));
        QTest::newRow("rich text when nothing plain")
            << 0 << QList<Entry>{entry({{"public.rtf", "{\\rtf1 rich\\par}"}})} << noPreview
            << text("rich\n", QByteArray("{\\rtf1 rich\\par}"));
        QTest::newRow("blank rtf, then html of the same entry")
            << 0 << QList<Entry>{entry({{"public.rtf", "{\\rtf1 \\par}"}, {"public.html", "<p>web</p>"}})} << noPreview
            << text("web", QByteArray("{\\rtf1 \\par}"));
        QTest::newRow("image when no text at all")
            << 0 << QList<Entry>{entry({{"public.utf8-plain-text", "  \n"}, {"public.jpeg", "jpeg"}})} << noPreview
            << image("jpeg");
        QTest::newRow("item type out of range takes the text path")
            << 9 << QList<Entry>{entry({{"public.png", png}, {"public.utf8-plain-text", "t"}})} << noPreview << text("t");
        QTest::newRow("nothing usable") << 0 << QList<Entry>{entry({{"public.data", "x"}})} << noPreview << nothing;
    }

    void priorities()
    {
        QFETCH(int, itemType);
        QFETCH(QList<Entry>, entries);
        QFETCH(QVariant, preview);
        QFETCH(QString, expected);
        const auto content = makeContent(itemType, entries,
                                         preview.isValid() ? std::optional(preview.toMap()) : std::nullopt);
        QCOMPARE(describeContent(content), expected);
    }

    void plainTextTypesAndEncodings_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<std::optional<QString>>("expected");
        // One row per type: the decoding itself is the encodings' own test.
        QTest::newRow("type order beats entry order")
            << QList<Entry>{entry({{"public.utf16-plain-text", QByteArray("x\0", 2)}}), entry({{"public.utf8-plain-text", "y"}})}
            << std::optional<QString>(QStringLiteral("y"));
        QTest::newRow("blank utf8 skipped for the next candidate")
            << QList<Entry>{entry({{"public.utf8-plain-text", "  \n"}}), entry({{"public.text", " a "}})}
            << std::optional<QString>(QStringLiteral(" a "));
        QTest::newRow("invalid utf8 moves on, utf16 is little-endian")
            << QList<Entry>{entry({{"public.utf8-plain-text", "\xff\xfe\xfd"}, {"public.utf16-plain-text", QByteArray("o\0k\0", 4)}})}
            << std::optional<QString>(QStringLiteral("ok"));
        QTest::newRow("nul characters removed")
            << QList<Entry>{entry({{"public.utf8-plain-text", QByteArray("a\0b\0", 4)}})} << std::optional<QString>(QStringLiteral("ab"));
        QTest::newRow("only nul characters is blank")
            << QList<Entry>{entry({{"public.utf8-plain-text", QByteArray("\0\0", 2)}})} << std::optional<QString>();
        QTest::newRow("utf16 external follows its mark")
            << QList<Entry>{entry({{"public.utf16-external-plain-text", QByteArray("\xfe\xff\x65\xe5\x67\x2c", 6)}})}
            << std::optional<QString>(QStringLiteral("\u65e5\u672c"));
        QTest::newRow("utf16 odd length moves on")
            << QList<Entry>{entry({{"public.utf16-plain-text", QByteArray("h\0i", 3)}, {"com.apple.traditional-mac-plain-text", "mac"}})}
            << std::optional<QString>(QStringLiteral("mac"));
        QTest::newRow("mac os roman") << QList<Entry>{entry({{"com.apple.traditional-mac-plain-text", "caf\x8e"}})}
                                      << std::optional<QString>(QStringLiteral("caf\u00e9"));
        QTest::newRow("none") << QList<Entry>{entry({{"public.html", "<p>x</p>"}})} << std::optional<QString>();
    }

    void plainTextTypesAndEncodings()
    {
        QFETCH(QList<Entry>, entries);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(plainTextFromEntries(entries), expected);
    }

    void textFromPreview_data()
    {
        QTest::addColumn<QVariantMap>("preview");
        QTest::addColumn<std::optional<QString>>("expected");
        const auto key = [](const char *k) { return QString::fromLatin1(k); };
        QTest::newRow("text untrimmed") << QVariantMap{{key("text"), QStringLiteral(" t\n")}, {key("url"), key("u")}}
                                        << std::optional<QString>(QStringLiteral(" t\n"));
        QTest::newRow("blank text, then url") << QVariantMap{{key("text"), key(" \n")}, {key("url"), key("https://a.b/")}}
                                              << std::optional<QString>(QStringLiteral("https://a.b/"));
        QTest::newRow("url dictionary") << QVariantMap{{key("url"), QVariantMap{{key("relative"), key("https://r/")}}}}
                                        << std::optional<QString>(QStringLiteral("https://r/"));
        QTest::newRow("blank url does not count") << QVariantMap{{key("url"), key("   ")}} << std::optional<QString>();
        QTest::newRow("red") << QVariantMap{{key("colorCode"), qint64(16711680)}} << std::optional<QString>(key("#FF0000"));
        QTest::newRow("negative") << QVariantMap{{key("colorCode"), qint64(-1)}} << std::optional<QString>(key("#FFFFFF"));
        QTest::newRow("colour as text is no integer") << QVariantMap{{key("colorCode"), key("255")}} << std::optional<QString>();
        QTest::newRow("nothing") << QVariantMap{{key("other"), key("x")}} << std::optional<QString>();
    }

    void textFromPreview()
    {
        QFETCH(QVariantMap, preview);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(PastePayloadDecoder::textFromPreview(preview), expected);
    }

    void previewColourFromJson()
    {
        // JSON integers arrive as integers, so the colour survives the whole path.
        const auto preview = decodePreview("{\"colorCode\": 16711680}");
        QVERIFY(preview);
        const auto content = makeContent(0, {}, preview);
        QVERIFY(content);
        QCOMPARE(std::get<Text>(*content).text, QStringLiteral("#FF0000"));
        QVERIFY(!PastePayloadDecoder::textFromPreview(decodePreview("{\"colorCode\": 1.5}")));
    }

    void imageTypeOrder_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<std::optional<QByteArray>>("expected");
        QTest::newRow("empty png, then tiff")
            << QList<Entry>{entry({{"public.png", QByteArray()}, {"public.tiff", tiff}})} << std::optional<QByteArray>(tiff);
        QTest::newRow("png in a later entry beats tiff in the first")
            << QList<Entry>{entry({{"public.tiff", tiff}}), entry({{"public.png", png}})} << std::optional<QByteArray>(png);
        QTest::newRow("only the first entry of a type is looked at")
            << QList<Entry>{entry({{"public.png", QByteArray()}}), entry({{"public.png", png}}), entry({{"public.heic", "heic"}})}
            << std::optional<QByteArray>(QByteArray("heic"));
        QTest::newRow("none") << QList<Entry>{entry({{"public.gif", "gif"}})} << std::optional<QByteArray>();
    }

    void imageTypeOrder()
    {
        QFETCH(QList<Entry>, entries);
        QFETCH(std::optional<QByteArray>, expected);
        QCOMPARE(imageFromEntries(entries), expected);
    }
};

QTEST_GUILESS_MAIN(TestPasteContent)
#include "tst_pastecontent.moc"
