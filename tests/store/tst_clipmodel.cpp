#include "StoreTestSupport.h"

#include <QRandomGenerator>

using namespace Qt::StringLiterals;

class TestClipModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Set values come back exactly (empty is not absent, the extreme hash, a 3 MB image stored
    // outside the row); unset ones come back absent or at their defaults.
    void valuesSurviveTheStore()
    {
        TestStore store;
        const QUuid id = QUuid::createUuid();
        const QDateTime created = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
        QByteArray image(3 * 1024 * 1024, Qt::Uninitialized);
        for (auto &byte : image)
            byte = char(QRandomGenerator::global()->generate());
        auto item = store.view()->insert<ClipItem>();
        item->setId(id);
        item->setCreatedAt(created);
        item->setKind(ClipKind::Image);
        item->setImageData(image);
        item->setRtfData(QByteArray());
        item->setSourceAppName(u"Écrire ✍️"_s);
        item->setContentHash(std::numeric_limits<qint64>::min());
        item->setPinned(true);
        item->setTitle(u"  a title \n"_s);
        store.view()->insert<ClipLabel>()->setColorIndex(-7);
        store.view()->insert<ClipItem>()->setCreatedAt(created.addSecs(-1));
        QVERIFY(store.view()->save());
        store.reopen();

        const auto items = *store.view()->fetch<ClipItem>(itemsNewestFirst());
        QCOMPARE(items.size(), 2);
        const ClipItem &full = *items.first();
        QCOMPARE(full.id(), id);
        QCOMPARE(full.createdAt(), created);
        QCOMPARE(full.kind(), ClipKind::Image);
        QCOMPARE(full.imageData(), image);
        QCOMPARE(full.rtfData(), QByteArray());
        QCOMPARE(full.sourceAppName(), u"Écrire ✍️"_s);
        QCOMPARE(full.contentHash(), std::numeric_limits<qint64>::min());
        QVERIFY(full.isPinned());
        QCOMPARE(full.title(), u"  a title \n"_s);
        QVERIFY(!full.plainText());

        const ClipItem &empty = *items.last();
        QCOMPARE(empty.storedKind(), u"text"_s);
        QCOMPARE(empty.contentHash(), 0);
        QVERIFY(!empty.isPinned());
        QVERIFY(!empty.id() && !empty.plainText() && !empty.rtfData() && !empty.imageData() && !empty.title());
        QVERIFY(!empty.fileName() && !empty.sourceAppName() && !empty.sourceBundleID() && !empty.labelID());
        const auto label = store.view()->fetch<ClipLabel>(FetchRequest::of<ClipLabel>())->first();
        QCOMPARE(label->colorIndex(), -7);
        QVERIFY(!label->name());
    }

    // Only the exact lower-case names are kinds; anything else a store holds reads as text.
    void storedKindReadingRule()
    {
        TestStore store;
        const QList<std::pair<std::optional<QString>, ClipKind>> cases{
            {u"image"_s, ClipKind::Image}, {u"file"_s, ClipKind::File}, {u"Image"_s, ClipKind::Text},
            {u"link"_s, ClipKind::Text},   {std::nullopt, ClipKind::Text}};
        for (qsizetype i = 0; i < cases.size(); ++i) {
            auto item = store.view()->insert<ClipItem>();
            item->setStoredKind(cases[i].first);
            item->setCreatedAt(QDateTime::fromSecsSinceEpoch(cases.size() - i, Qt::UTC));
        }
        QVERIFY(store.view()->save());
        store.reopen();
        const auto items = *store.view()->fetch<ClipItem>(itemsNewestFirst());
        QCOMPARE(items.size(), cases.size());
        for (qsizetype i = 0; i < items.size(); ++i) {
            QCOMPARE(items[i]->storedKind(), cases[i].first);
            QCOMPARE(items[i]->kind(), cases[i].second);
        }
    }

    void sameContentComparesOnlyContent()
    {
        TestStore store;
        auto make = [&](ClipKind kind, std::optional<QString> text, std::optional<QString> names = {},
                        std::optional<QByteArray> image = {}) {
            auto item = store.view()->insert<ClipItem>();
            item->setKind(kind);
            item->setPlainText(text);
            item->setFileName(names);
            item->setImageData(image);
            return item;
        };
        const QString paths = u"/home/a/x.txt\n/home/a/y.txt"_s;
        QVERIFY(!sameContent(*make(ClipKind::File, paths, u"x.txt, y.txt"_s), *make(ClipKind::File, paths, u"x.txt, z.txt"_s)));

        auto textA = make(ClipKind::Text, u"hello"_s);
        auto textB = make(ClipKind::Text, u"hello"_s);
        textA->setRtfData(QByteArray("{\\rtf1 hello}"));
        textB->setTitle(u"greeting"_s);
        textB->setPinned(true);
        textB->setSourceAppName(u"Editor"_s);
        QVERIFY(sameContent(*textA, *textB));
        QVERIFY(!sameContent(*textA, *make(ClipKind::File, u"hello"_s)));

        auto absent = make(ClipKind::Text, std::nullopt);
        QVERIFY(!sameContent(*absent, *make(ClipKind::Text, QString())));
        QVERIFY(sameContent(*absent, *make(ClipKind::Text, std::nullopt)));

        auto image = make(ClipKind::Image, std::nullopt, std::nullopt, QByteArray("\x89PNG\0\1", 6));
        QVERIFY(!sameContent(*image, *make(ClipKind::Image, std::nullopt, std::nullopt, QByteArray("\x89PNG\0\2", 6))));
        QVERIFY(sameContent(*image, *make(ClipKind::Image, std::nullopt, std::nullopt, QByteArray("\x89PNG\0\1", 6))));
    }

    void cardTitleTrimsWhiteSpace()
    {
        TestStore store;
        auto item = store.view()->insert<ClipItem>();
        const QList<std::pair<std::optional<QString>, std::optional<QString>>> cases{
            {std::nullopt, std::nullopt}, {u"   \n "_s, std::nullopt}, {u"\t two words\r\n"_s, u"two words"_s},
            {u"a\nb "_s, u"a\nb"_s}}; // inner line breaks stay
        for (const auto &[title, expected] : cases) {
            item->setTitle(title);
            QCOMPARE(cardTitle(*item), expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestClipModel)
#include "tst_clipmodel.moc"
