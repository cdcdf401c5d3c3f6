#include "StoreTestSupport.h"

#include "store/Model.h"
#include "store/sql/SqlConnection.h"

#include <QRandomGenerator>

class TestClipModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void itemAttributesAreOptionalAndBinariesMayBeStoredOutside()
    {
        for (const auto &attribute : makeModel().entity(QStringLiteral("ClipItem"))->attributes) {
            QVERIFY2(attribute.isOptional, qPrintable(attribute.name));
            QCOMPARE(attribute.allowsExternalBinaryDataStorage, attribute.type == AttributeType::Binary);
        }
    }

    void freshObjectsReadTheirDefaultsBeforeAndAfterSaving()
    {
        TestStore store;
        auto check = [](const ClipItem &item, const ClipLabel &label) {
            QCOMPARE(item.storedKind(), std::optional<QString>(QStringLiteral("text")));
            QCOMPARE(item.kind(), ClipKind::Text);
            QCOMPARE(item.contentHash(), 0);
            QCOMPARE(item.isPinned(), false);
            QVERIFY(!item.id() && !item.createdAt() && !item.plainText() && !item.rtfData() && !item.imageData());
            QVERIFY(!item.fileName() && !item.sourceAppName() && !item.sourceBundleID() && !item.labelID());
            QVERIFY(!item.title());
            QCOMPARE(label.colorIndex(), 0);
            QVERIFY(!label.id() && !label.name() && !label.createdAt());
        };
        check(*store.view()->insert<ClipItem>(), *store.view()->insert<ClipLabel>());
        QVERIFY(store.view()->save());

        store.reopen();
        auto items = store.view()->fetch<ClipItem>(FetchRequest::of<ClipItem>());
        auto labels = store.view()->fetch<ClipLabel>(FetchRequest::of<ClipLabel>());
        QVERIFY(items && items->size() == 1 && labels && labels->size() == 1);
        check(*items->first(), *labels->first());
    }

    void everyAttributeSurvivesTheStore()
    {
        TestStore store;
        const QUuid id = QUuid::createUuid();
        const QDateTime created = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
        QByteArray image(3 * 1024 * 1024, Qt::Uninitialized);
        for (auto &byte : image)
            byte = char(QRandomGenerator::global()->generate());
        {
            auto item = store.view()->insert<ClipItem>();
            item->setId(id);
            item->setCreatedAt(created);
            item->setKind(ClipKind::Image);
            item->setImageData(image);
            item->setRtfData(QByteArray());   // present but empty is not absent
            item->setSourceAppName(QStringLiteral("Écrire ✍️"));
            item->setSourceBundleID(QStringLiteral("org.example.writer"));
            item->setContentHash(std::numeric_limits<qint64>::min());
            item->setPinned(true);
            item->setLabelID(QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"));
            item->setTitle(QStringLiteral("  a title \n"));
            auto label = store.view()->insert<ClipLabel>();
            label->setColorIndex(-7);
            label->setName(QStringLiteral("Work"));
            QVERIFY(store.view()->save());
        }
        store.reopen();
        auto items = store.view()->fetch<ClipItem>(FetchRequest::of<ClipItem>());
        QVERIFY(items && items->size() == 1);
        const ClipItem &item = *items->first();
        QCOMPARE(item.id(), std::optional<QUuid>(id));
        QCOMPARE(item.createdAt(), std::optional<QDateTime>(created));
        QCOMPARE(item.kind(), ClipKind::Image);
        QCOMPARE(item.imageData(), std::optional<QByteArray>(image));
        QVERIFY(item.rtfData().has_value() && item.rtfData()->isEmpty());
        QCOMPARE(item.sourceAppName(), std::optional<QString>(QStringLiteral("Écrire ✍️")));
        QCOMPARE(item.contentHash(), std::numeric_limits<qint64>::min());
        QVERIFY(item.isPinned());
        QCOMPARE(item.title(), std::optional<QString>(QStringLiteral("  a title \n")));
        QVERIFY(!item.plainText());
        auto labels = store.view()->fetch<ClipLabel>(FetchRequest::of<ClipLabel>());
        QCOMPARE(labels->first()->colorIndex(), -7);
    }

    void storedKindReadingRule_data()
    {
        QTest::addColumn<std::optional<QString>>("stored");
        QTest::addColumn<ClipKind>("kind");
        QTest::newRow("text") << std::optional<QString>(QStringLiteral("text")) << ClipKind::Text;
        QTest::newRow("image") << std::optional<QString>(QStringLiteral("image")) << ClipKind::Image;
        QTest::newRow("file") << std::optional<QString>(QStringLiteral("file")) << ClipKind::File;
        QTest::newRow("upper case") << std::optional<QString>(QStringLiteral("TEXT")) << ClipKind::Text;
        QTest::newRow("Image capitalised") << std::optional<QString>(QStringLiteral("Image")) << ClipKind::Text;
        QTest::newRow("link") << std::optional<QString>(QStringLiteral("link")) << ClipKind::Text;
        QTest::newRow("absent") << std::optional<QString>() << ClipKind::Text;
    }

    void storedKindReadingRule()
    {
        QFETCH(std::optional<QString>, stored);
        QFETCH(ClipKind, kind);
        TestStore store;
        auto item = store.view()->insert<ClipItem>();
        item->setStoredKind(stored);
        QVERIFY(store.view()->save());
        store.reopen();
        auto items = store.view()->fetch<ClipItem>(FetchRequest::of<ClipItem>());
        QCOMPARE(items->first()->storedKind(), stored);
        QCOMPARE(items->first()->kind(), kind);
    }

    void sameContentComparesOnlyContent()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto make = [view](ClipKind kind, std::optional<QString> text, std::optional<QString> names,
                           std::optional<QByteArray> image) {
            auto item = view->insert<ClipItem>();
            item->setKind(kind);
            item->setPlainText(text);
            item->setFileName(names);
            item->setImageData(image);
            return item;
        };
        const QString paths = QStringLiteral("/home/a/x.txt\n/home/a/y.txt");
        auto fileA = make(ClipKind::File, paths, QStringLiteral("x.txt, y.txt"), std::nullopt);
        auto fileB = make(ClipKind::File, paths, QStringLiteral("x.txt, z.txt"), std::nullopt);
        QVERIFY(!sameContent(*fileA, *fileB));

        auto textA = make(ClipKind::Text, QStringLiteral("hello"), std::nullopt, std::nullopt);
        auto textB = make(ClipKind::Text, QStringLiteral("hello"), std::nullopt, std::nullopt);
        textA->setRtfData(QByteArray("{\\rtf1 hello}"));
        textB->setTitle(QStringLiteral("greeting"));
        textB->setPinned(true);
        textB->setSourceAppName(QStringLiteral("Editor"));
        QVERIFY(sameContent(*textA, *textB));

        auto absent = make(ClipKind::Text, std::nullopt, std::nullopt, std::nullopt);
        auto empty = make(ClipKind::Text, QString(), std::nullopt, std::nullopt);
        QVERIFY(!sameContent(*absent, *empty));
        QVERIFY(sameContent(*absent, *make(ClipKind::Text, std::nullopt, std::nullopt, std::nullopt)));

        // A text and a file with the same text are not the same content.
        auto fileWithText = make(ClipKind::File, QStringLiteral("hello"), std::nullopt, std::nullopt);
        QVERIFY(!sameContent(*textA, *fileWithText));

        auto imageA = make(ClipKind::Image, std::nullopt, std::nullopt, QByteArray("\x89PNG\0\1", 6));
        auto imageB = make(ClipKind::Image, std::nullopt, std::nullopt, QByteArray("\x89PNG\0\2", 6));
        QVERIFY(!sameContent(*imageA, *imageB));
        QVERIFY(sameContent(*imageA, *make(ClipKind::Image, std::nullopt, std::nullopt, QByteArray("\x89PNG\0\1", 6))));
    }

    void cardTitleTrimsWhiteSpace_data()
    {
        QTest::addColumn<std::optional<QString>>("title");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("absent") << std::optional<QString>() << std::optional<QString>();
        QTest::newRow("empty") << std::optional<QString>(QString()) << std::optional<QString>();
        QTest::newRow("spaces and a line break") << std::optional<QString>(QStringLiteral("   \n ")) << std::optional<QString>();
        QTest::newRow("word in spaces") << std::optional<QString>(QStringLiteral("  word  ")) << std::optional<QString>(QStringLiteral("word"));
        QTest::newRow("tabs and CRLF") << std::optional<QString>(QStringLiteral("\t two words\r\n")) << std::optional<QString>(QStringLiteral("two words"));
        QTest::newRow("inner line break kept") << std::optional<QString>(QStringLiteral("a\nb ")) << std::optional<QString>(QStringLiteral("a\nb"));
    }

    void cardTitleTrimsWhiteSpace()
    {
        QFETCH(std::optional<QString>, title);
        QFETCH(std::optional<QString>, expected);
        TestStore store;
        auto item = store.view()->insert<ClipItem>();
        item->setTitle(title);
        QCOMPARE(cardTitle(*item), expected);
    }
};

QTEST_GUILESS_MAIN(TestClipModel)
#include "tst_clipmodel.moc"
