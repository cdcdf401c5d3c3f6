#include "capture/ClipboardPayload.h"

#include "platform/fake/FakePasteboard.h"
#include "platform/pasteboard/Pasteboard.h"

#include <QBuffer>
#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;
using Entries = QList<QPair<QString, QByteArray>>;

namespace {

QByteArray encodedImage(const char *format)
{
    QImage image(4, 3, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

const FrontApplication editor{u"Kate"_s, u"org.kde.kate"_s};

std::optional<ClipboardPayload> payloadFor(const Entries &entries, const std::optional<FrontApplication> &front = editor)
{
    FakePasteboard pasteboard;
    pasteboard.copyFromOtherApplication(entries);
    return makePayload(pasteboard, front);
}

QPair<QString, QByteArray> text(const QByteArray &utf8)
{
    return {PasteboardType::plainText, utf8};
}

} // namespace

class TestPayload : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textIsKeptUntrimmedWithItsRtf()
    {
        const auto payload = payloadFor({text(" hello\n"), {PasteboardType::rtf, "{\\rtf1 hello}"}});
        QVERIFY(payload);
        const auto *content = std::get_if<ClipboardPayload::Text>(&payload->content);
        QVERIFY(content);
        QCOMPARE(content->text, u" hello\n"_s);
        QCOMPARE(content->rtfData, QByteArray("{\\rtf1 hello}"));
        QCOMPARE(payload->sourceAppName, u"Kate"_s);
        QCOMPARE(payload->sourceBundleID, u"org.kde.kate"_s);
        const auto alias = payloadFor({text("x"), {PasteboardType::rtfAlias, "{\\rtf1 x}"}});
        QCOMPARE(std::get<ClipboardPayload::Text>(alias->content).rtfData, QByteArray("{\\rtf1 x}"));
        // Image types no codec reads leave the text; a hint other than "secret" is no marker.
        QVERIFY(std::holds_alternative<ClipboardPayload::Text>(
            payloadFor({{u"image/x-made-up"_s, "?"}, text("words")})->content));
        QVERIFY(payloadFor({text("not secret"), {passwordManagerHintType, "public"}}));
    }

    void blankMissingOrMarkedGivesNothing_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::newRow("blanks and line breaks") << Entries{text(" \n\t\r\n  ")};
        QTest::newRow("only html") << Entries{{u"text/html"_s, "<b>hi</b>"}};
        QTest::newRow("nothing") << Entries{};
        QTest::newRow("uri-list without file urls")
            << Entries{{PasteboardType::uriList, "https://example.com/\r\nrelative.txt\r\n"}};
        for (const QString &marker : skipMarkerTypes)
            QTest::newRow(qPrintable(marker)) << Entries{text("hunter2"), {marker, QByteArray()}};
        QTest::newRow("password manager hint") << Entries{text("hunter2"), {passwordManagerHintType, "secret"}};
        QTest::newRow("marker before an image")
            << Entries{{u"org.nspasteboard.ConcealedType"_s, ""}, {PasteboardType::png, encodedImage("png")}};
    }

    void blankMissingOrMarkedGivesNothing()
    {
        QFETCH(Entries, entries);
        QVERIFY(!payloadFor(entries));
    }

    void unreadableClipboardGivesNothing()
    {
        FakePasteboard pasteboard;
        pasteboard.copyFromOtherApplication({text("secret?")});
        pasteboard.setUnreadable(true);
        QVERIFY(!makePayload(pasteboard, editor));
        // A password hint that is listed but cannot be read counts as "secret".
        FakePasteboard hinted;
        hinted.copyFromOtherApplication({text("hunter2"), {passwordManagerHintType, "secret"}});
        hinted.refuseType(passwordManagerHintType);
        QVERIFY(!makePayload(hinted, editor));
    }

    void sourceRules_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<std::optional<FrontApplication>>("front");
        QTest::addColumn<std::optional<QString>>("name");
        QTest::addColumn<std::optional<QString>>("bundle");
        const std::optional<QString> none;
        QTest::newRow("remote clipboard") << Entries{text("x"), {remoteClipboardType, ""}}
                                          << std::optional<FrontApplication>(editor) << none << none;
        QTest::newRow("login window")
            << Entries{text("x")} << std::optional<FrontApplication>({u"loginwindow"_s, u"com.apple.loginwindow"_s})
            << none << none;
        QTest::newRow("no bundle identifier")
            << Entries{text("x")} << std::optional<FrontApplication>({u"XTerm"_s, std::nullopt})
            << std::optional<QString>(u"XTerm"_s) << none;
        QTest::newRow("no front application") << Entries{text("x")} << std::optional<FrontApplication>() << none << none;
    }

    void sourceRules()
    {
        QFETCH(Entries, entries);
        QFETCH(std::optional<FrontApplication>, front);
        QFETCH(std::optional<QString>, name);
        QFETCH(std::optional<QString>, bundle);
        const auto payload = payloadFor(entries, front);
        QVERIFY(payload);
        QCOMPARE(payload->sourceAppName, name);
        QCOMPARE(payload->sourceBundleID, bundle);
    }

    // Files win over images and text; names and paths keep their order, folders lose the slash.
    void filesComeFirstWithNamesAndPathsInOrder()
    {
        const auto payload = payloadFor({
            {PasteboardType::uriList, "file:///home/u/docs/x.txt\r\nfile:///tmp/pics/y.png\r\nfile:///home/u/Projects/\n"},
            {PasteboardType::tiff, encodedImage("tiff")},
            text("file:///home/u/docs/x.txt"),
        });
        const auto *files = std::get_if<ClipboardPayload::File>(&payload->content);
        QVERIFY(files);
        QCOMPARE(files->names, u"x.txt, y.png, Projects"_s);
        QCOMPARE(files->paths, u"/home/u/docs/x.txt\n/tmp/pics/y.png\n/home/u/Projects"_s);
    }

    void imagePreference_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray tiff = encodedImage("tiff");
        const QByteArray png = encodedImage("png");
        const QByteArray jpeg = encodedImage("jpeg");
        const QByteArray bmp = encodedImage("bmp");
        QTest::newRow("tiff over png") << Entries{{PasteboardType::png, png}, {PasteboardType::tiff, tiff}} << tiff;
        QTest::newRow("png over jpeg") << Entries{{u"image/jpeg"_s, jpeg}, {PasteboardType::png, png}} << png;
        QTest::newRow("jpeg over bmp") << Entries{{u"image/bmp"_s, bmp}, {u"image/jpeg"_s, jpeg}} << jpeg;
        QTest::newRow("bmp alone") << Entries{{u"image/bmp"_s, bmp}} << bmp;
        QTest::newRow("image over text") << Entries{text("caption"), {PasteboardType::png, png}} << png;
        QTest::newRow("garbage is still the bytes as read")
            << Entries{{PasteboardType::png, QByteArray("not a png at all")}} << QByteArray("not a png at all");
    }

    void imagePreference()
    {
        QFETCH(Entries, entries);
        QFETCH(QByteArray, expected);
        const auto payload = payloadFor(entries);
        QVERIFY(payload);
        const auto *image = std::get_if<ClipboardPayload::Image>(&payload->content);
        QVERIFY(image);
        QCOMPARE(image->bytes, expected);
    }

    void hugeTextIsReadWhole()
    {
        QByteArray big(50 * 1024 * 1024, 'a');
        big[0] = ' ';
        const auto payload = payloadFor({text(big)});
        QCOMPARE(std::get<ClipboardPayload::Text>(payload->content).text.size(), big.size());
    }
};

QTEST_MAIN(TestPayload)
#include "tst_payload.moc"
