#include "StoreTestSupport.h"

#include "store/TextFolding.h"

#include <QRandomGenerator>

#include <sqlite3.h>

namespace {

struct Sample {
    QString text;
    ClipKind kind = ClipKind::Text;
    QString fileName;
    QString source;
    QString title;
    qint64 hash = 0;
    bool pinned = false;
};

// Each sample's text doubles as its name in the expected lists.
const QList<Sample> &samples()
{
    static const QList<Sample> list{
        {QStringLiteral("\u212Aestrel"), ClipKind::Text, {}, {}, {}, 20},
        {QStringLiteral("HTTP"), ClipKind::Text, {}, {}, {}, 21},
        {QStringLiteral("Résumé of the year"), ClipKind::Text, {}, {}, QStringLiteral("CV"), 1},
        {QStringLiteral("résumé"), ClipKind::Text, {}, {}, {}, 2, true},
        {QStringLiteral("RESUME"), ClipKind::Text, {}, QStringLiteral("Pâte"), {}, 3},
        {QStringLiteral("ÉTÉ chaud"), ClipKind::Text, {}, {}, {}, 4},
        {QStringLiteral("été"), ClipKind::Text, {}, {}, {}, 5},
        {QStringLiteral("naïve café"), ClipKind::Text, {}, {}, {}, 6},
        {QStringLiteral("http://example.com"), ClipKind::Text, {}, {}, {}, 7},
        {QStringLiteral("HTTPS://EXAMPLE.COM/path"), ClipKind::Text, {}, {}, {}, 8, true},
        {QStringLiteral(" http://leading.space"), ClipKind::Text, {}, {}, {}, 9},
        {QStringLiteral("http://files/report.txt"), ClipKind::File, QStringLiteral("report.txt"), {}, {}, 10},
        {QStringLiteral("straße"), ClipKind::Text, {}, {}, {}, 11},
        {QStringLiteral("日本語のテキスト"), ClipKind::Text, {}, {}, QStringLiteral("Japanese"), 12},
        {QStringLiteral("emoji 😀 here"), ClipKind::Text, {}, {}, {}, 12},
        {QStringLiteral("say \"quoted\" words"), ClipKind::Text, {}, {}, {}, 13},
    };
    return list;
}

void fill(StoreContext *context)
{
    qint64 time = 1700000000000;
    for (const Sample &sample : samples()) {
        auto item = context->insert<ClipItem>();
        item->setKind(sample.kind);
        item->setPlainText(sample.text);
        item->setCreatedAt(QDateTime::fromMSecsSinceEpoch(time++, Qt::UTC));
        if (!sample.fileName.isEmpty())
            item->setFileName(sample.fileName);
        if (!sample.source.isEmpty())
            item->setSourceAppName(sample.source);
        if (!sample.title.isEmpty())
            item->setTitle(sample.title);
        item->setContentHash(sample.hash);
        item->setPinned(sample.pinned);
    }
}

Predicate search(const QString &text)
{
    const auto cd = TextComparison::CaseDiacriticInsensitive;
    return Predicate::anyOf({Predicate::contains(QStringLiteral("plainText"), text, cd),
                             Predicate::contains(QStringLiteral("fileName"), text, cd),
                             Predicate::contains(QStringLiteral("sourceAppName"), text, cd),
                             Predicate::contains(QStringLiteral("title"), text, cd)});
}

QStringList run(StoreContext *context, const Predicate &predicate, bool pending)
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setPredicate(predicate);
    request.setSortDescriptors({{QStringLiteral("createdAt"), true}});
    request.setIncludesPendingChanges(pending);
    auto items = context->fetch<ClipItem>(request);
    if (!items)
        return {QStringLiteral("error: ") + items.error().message};
    return textsOf(*items);
}

// Decomposes, strips the marks and case folds the text in one piece.
QString foldedAsAWhole(const QString &text)
{
    QString whole;
    for (char32_t c : text.normalized(QString::NormalizationForm_D).toUcs4()) {
        if (QChar::category(c) != QChar::Mark_NonSpacing && QChar::category(c) != QChar::Mark_Enclosing)
            whole += QStringView(QChar::fromUcs4(c));
    }
    return whole.toCaseFolded();
}

} // namespace

Q_DECLARE_METATYPE(Predicate)

class TestPredicates : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void foldingIgnoresCaseAndDiacritics_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folded");
        QTest::newRow("acute") << QStringLiteral("Résumé") << QStringLiteral("resume");
        QTest::newRow("upper case accents") << QStringLiteral("ÉTÉ") << QStringLiteral("ete");
        QTest::newRow("decomposed input") << QStringLiteral("e\u0301te\u0301") << QStringLiteral("ete");
        QTest::newRow("diaeresis") << QStringLiteral("NAÏVE") << QStringLiteral("naive");
        QTest::newRow("greek") << QStringLiteral("ΆΣΤΥ") << QStringLiteral("αστυ");
        QTest::newRow("emoji kept") << QStringLiteral("A😀") << QStringLiteral("a😀");
        QTest::newRow("cjk kept") << QStringLiteral("日本") << QStringLiteral("日本");
    }

    void foldingIgnoresCaseAndDiacritics()
    {
        QFETCH(QString, text);
        QFETCH(QString, folded);
        QCOMPARE(foldText(text, TextComparison::CaseDiacriticInsensitive), folded);
    }

    // Long texts are decomposed in pieces; the pieces must join to the whole text's folding,
    // marks that reorder across a piece's end included.
    void longTextsFoldAsAWhole()
    {
        const QStringList units{QStringLiteral("é"), QStringLiteral("e\u0301"), QStringLiteral("\u0327\u0301"),
                                QStringLiteral("\u0F73"), QStringLiteral("\u0F71\u0F72"), QStringLiteral("Σ"),
                                QStringLiteral("한"), QStringLiteral("😀"), QStringLiteral("ΐ"), QStringLiteral("ǖ"),
                                QStringLiteral("a"), QStringLiteral(" "), QStringLiteral("\u1E09"), QStringLiteral("Å"),
                                // Spacing marks that are kept and reordered: 226 goes after 216.
                                QStringLiteral("\U0001D16D"), QStringLiteral("\U0001D165")};
        QRandomGenerator random(11);
        QString text;
        while (text.size() < 40'000)
            text += units[random.bounded(int(units.size()))];
        QCOMPARE(foldText(text, TextComparison::CaseDiacriticInsensitive), foldedAsAWhole(text));
    }

    // Most characters fold through a table of single characters; in any company they must
    // fold as the whole text does (marks around them, letters that expand, kept marks).
    void everyCharacterFoldsAsInText()
    {
        const QStringList companies{QStringLiteral("A%1b"), QStringLiteral("%1\u0301\u0327"),
                                    QStringLiteral("\u0327%1\u0301É"), QStringLiteral("ß%1한"), QStringLiteral("%1\u1BF2"),
                                    QStringLiteral("%1\U0001D165\U0001D16D%1")};
        int differing = 0;
        for (char32_t c = 1; c < 0x10000; ++c) {
            if (QChar::isSurrogate(c))
                continue;
            for (const QString &company : companies) {
                const QString text = company.arg(QChar(char16_t(c)));
                if (foldText(text, TextComparison::CaseDiacriticInsensitive) != foldedAsAWhole(text) && ++differing < 10)
                    qWarning("U+%04X in %s", unsigned(c), qPrintable(company));
            }
        }
        QCOMPARE(differing, 0);
    }

    // The store folds in SQL as well: ASCII texts take a shorter way there.
    void sqlFoldsAsInMemory_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QStringLiteral("Hello WORLD [@] `z` 09\t~");
        QTest::newRow("accents") << QStringLiteral("Résumé ÉTÉ");
        QTest::newRow("empty") << QString();
        QTest::newRow("hangul and emoji") << QStringLiteral("한국 A😀");
    }

    void sqlFoldsAsInMemory()
    {
        QFETCH(QString, text);
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
        QCOMPARE(registerFoldingFunctions(db), SQLITE_OK);
        for (int mode : {0, 1, 2}) {
            sqlite3_stmt *statement = nullptr;
            QCOMPARE(sqlite3_prepare_v2(db, "SELECT kn_fold(?, ?)", -1, &statement, nullptr), SQLITE_OK);
            const QByteArray utf8 = text.toUtf8();
            sqlite3_bind_text(statement, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(statement, 2, mode);
            QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
            const QString folded = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)),
                                                     sqlite3_column_bytes(statement, 0));
            sqlite3_finalize(statement);
            QCOMPARE(folded, foldText(text, static_cast<TextComparison>(mode)));
        }
        sqlite3_close(db);
    }

    void storeAndMemoryAgree_data()
    {
        QTest::addColumn<Predicate>("predicate");
        QTest::addColumn<QStringList>("expected");
        const auto cd = TextComparison::CaseDiacriticInsensitive;
        const auto c = TextComparison::CaseInsensitive;
        const QString plainText = QStringLiteral("plainText");

        QTest::newRow("resume finds Résumé")
            << Predicate::contains(plainText, QStringLiteral("resume"), cd)
            << QStringList{QStringLiteral("Résumé of the year"), QStringLiteral("résumé"), QStringLiteral("RESUME")};
        QTest::newRow("ÉTÉ finds été")
            << Predicate::contains(plainText, QStringLiteral("ÉTÉ"), cd)
            << QStringList{QStringLiteral("ÉTÉ chaud"), QStringLiteral("été")};
        QTest::newRow("two letters")
            << Predicate::contains(plainText, QStringLiteral("ÉT"), cd)
            << QStringList{QStringLiteral("ÉTÉ chaud"), QStringLiteral("été")};
        QTest::newRow("one letter")
            << Predicate::contains(plainText, QStringLiteral("ß"), cd) << QStringList{QStringLiteral("straße")};
        QTest::newRow("case only keeps accents")
            << Predicate::contains(plainText, QStringLiteral("RÉSUMÉ"), c)
            << QStringList{QStringLiteral("Résumé of the year"), QStringLiteral("résumé")};
        QTest::newRow("exact contains")
            << Predicate::contains(plainText, QStringLiteral("sumé"))
            << QStringList{QStringLiteral("Résumé of the year"), QStringLiteral("résumé")};
        QTest::newRow("japanese, indexed")
            << Predicate::contains(plainText, QStringLiteral("テキスト"), cd) << QStringList{QStringLiteral("日本語のテキスト")};
        QTest::newRow("japanese, two characters")
            << Predicate::contains(plainText, QStringLiteral("日本"), cd) << QStringList{QStringLiteral("日本語のテキスト")};
        QTest::newRow("emoji")
            << Predicate::contains(plainText, QStringLiteral("😀"), cd) << QStringList{QStringLiteral("emoji 😀 here")};
        QTest::newRow("quotes in the search")
            << Predicate::contains(plainText, QStringLiteral("\"quoted\""), cd)
            << QStringList{QStringLiteral("say \"quoted\" words")};
        QTest::newRow("empty search matches nothing")
            << Predicate::contains(plainText, QString(), cd) << QStringList{};
        QTest::newRow("only a combining mark matches nothing")
            << Predicate::contains(plainText, QStringLiteral("\u0301"), cd) << QStringList{};
        QTest::newRow("indexed search of one attribute ignores the others")
            << Predicate::contains(plainText, QStringLiteral("JAPANESE"), cd) << QStringList{};
        QTest::newRow("search across four attributes: title")
            << search(QStringLiteral("cv")) << QStringList{QStringLiteral("Résumé of the year")};
        QTest::newRow("search across four attributes: source")
            << search(QStringLiteral("PATE")) << QStringList{QStringLiteral("RESUME")};
        QTest::newRow("search across four attributes: file name")
            << search(QStringLiteral("report")) << QStringList{QStringLiteral("http://files/report.txt")};
        QTest::newRow("search, short")
            << search(QStringLiteral("cv")) << QStringList{QStringLiteral("Résumé of the year")};
        // One character is found among each row's distinct characters; two must stand next
        // to each other in one text.
        QTest::newRow("search, two letters apart are no match")
            << search(QStringLiteral("EA")) << QStringList{QStringLiteral("Résumé of the year"), QStringLiteral(" http://leading.space")};
        QTest::newRow("search, one letter in a title or a text")
            << search(QStringLiteral("J")) << QStringList{QStringLiteral("日本語のテキスト"), QStringLiteral("emoji 😀 here")};
        QTest::newRow("search, emoji and a letter apart")
            << search(QStringLiteral("😀h")) << QStringList{};
        QTest::newRow("search, emoji and a space")
            << search(QStringLiteral("😀 ")) << QStringList{QStringLiteral("emoji 😀 here")};
        QTest::newRow("search for a space")
            << (Predicate::equal(QStringLiteral("kind"), QStringLiteral("file")) && search(QStringLiteral(" ")))
            << QStringList{};
        QTest::newRow("links")
            << (Predicate::equal(QStringLiteral("kind"), QStringLiteral("text"))
                && (Predicate::beginsWith(plainText, QStringLiteral("http://"), c)
                    || Predicate::beginsWith(plainText, QStringLiteral("https://"), c)))
            << QStringList{QStringLiteral("http://example.com"), QStringLiteral("HTTPS://EXAMPLE.COM/path")};
        QTest::newRow("prefix through a non-ASCII letter that folds to ASCII")
            << Predicate::beginsWith(plainText, QStringLiteral("KEST"), c) << QStringList{QStringLiteral("\u212Aestrel")};
        QTest::newRow("prefix longer than the text")
            << Predicate::beginsWith(plainText, QStringLiteral("http:"), c) << QStringList{QStringLiteral("http://example.com"), QStringLiteral("http://files/report.txt")};
        QTest::newRow("exact prefix keeps case")
            << Predicate::beginsWith(plainText, QStringLiteral("HTTP")) << QStringList{QStringLiteral("HTTP"), QStringLiteral("HTTPS://EXAMPLE.COM/path")};
        QTest::newRow("pinned")
            << Predicate::equal(QStringLiteral("isPinned"), true)
            << QStringList{QStringLiteral("résumé"), QStringLiteral("HTTPS://EXAMPLE.COM/path")};
        QTest::newRow("hash")
            << Predicate::equal(QStringLiteral("contentHash"), qint64(12))
            << QStringList{QStringLiteral("日本語のテキスト"), QStringLiteral("emoji 😀 here")};
        QTest::newRow("hash in")
            << Predicate::in(QStringLiteral("contentHash"), QList<qint64>{1, 5, 99})
            << QStringList{QStringLiteral("Résumé of the year"), QStringLiteral("été")};
        QList<qint64> many;
        for (qint64 i = 1000; i < 1500; ++i)
            many.append(i);
        many.append(3);
        QTest::newRow("hash in a long list")
            << Predicate::in(QStringLiteral("contentHash"), many) << QStringList{QStringLiteral("RESUME")};
        QTest::newRow("text equality ignoring case")
            << Predicate::equal(plainText, QStringLiteral("ÉTÉ"), c) << QStringList{QStringLiteral("été")};
        QTest::newRow("no title")
            << (Predicate::isNull(QStringLiteral("title")) && Predicate::equal(QStringLiteral("contentHash"), qint64(2)))
            << QStringList{QStringLiteral("résumé")};
        QTest::newRow("or of sources")
            << (Predicate::equal(QStringLiteral("sourceAppName"), QStringLiteral("Pâte"))
                || Predicate::equal(QStringLiteral("sourceAppName"), QStringLiteral("Nothing")))
            << QStringList{QStringLiteral("RESUME")};
    }

    void storeAndMemoryAgree()
    {
        QFETCH(Predicate, predicate);
        QFETCH(QStringList, expected);
        TestStore store;
        fill(store.view());
        // Unsaved: judged in memory.
        QCOMPARE(run(store.view(), predicate, true), expected);
        QVERIFY(store.view()->save());
        // Saved: judged by SQL, through the index where it applies.
        QCOMPARE(run(store.view(), predicate, false), expected);
        QCOMPARE(run(store.view(), predicate, true), expected);
    }

    void pendingChangesCountUnlessExcluded()
    {
        TestStore store;
        StoreContext *view = store.view();
        fill(view);
        QVERIFY(view->save());
        const Predicate resume = Predicate::contains(QStringLiteral("plainText"), QStringLiteral("resume"),
                                                     TextComparison::CaseDiacriticInsensitive);
        auto items = view->fetch<ClipItem>(itemsNewestFirst());
        // Change one matching item so it no longer matches, make another match, delete a third.
        for (const auto &item : *items) {
            if (item->plainText() == QStringLiteral("RESUME"))
                item->setPlainText(QStringLiteral("CV"));
            if (item->plainText() == QStringLiteral("été"))
                item->setPlainText(QStringLiteral("résumé d'été"));
            if (item->plainText() == QStringLiteral("résumé"))
                view->deleteObject(item);
        }
        insertText(view, QStringLiteral("Resume, unsaved"))->setCreatedAt(QDateTime::fromMSecsSinceEpoch(1800000000000, Qt::UTC));
        QCOMPARE(run(view, resume, true),
                 (QStringList{QStringLiteral("Résumé of the year"), QStringLiteral("résumé d'été"),
                              QStringLiteral("Resume, unsaved")}));
        // Saved rows only: the same objects come back, showing their unsaved values.
        QCOMPARE(run(view, resume, false),
                 (QStringList{QStringLiteral("Résumé of the year"), QStringLiteral("résumé"), QStringLiteral("CV")}));

        FetchRequest request = itemsNewestFirst();
        request.setPredicate(resume);
        QCOMPARE(*view->count(request), 3);
        request.setFetchOffset(1);
        request.setFetchLimit(1);
        auto page = view->fetch<ClipItem>(request);
        QCOMPARE(textsOf(*page), QStringList{QStringLiteral("résumé d'été")});
    }

    void offsetAndLimitFollowTheOrder()
    {
        TestStore store;
        fill(store.view());
        QVERIFY(store.view()->save());
        FetchRequest request = itemsNewestFirst();
        request.setPredicate(Predicate::equal(QStringLiteral("isPinned"), false));
        request.setFetchOffset(10);
        request.setIncludesPendingChanges(false);
        auto beyond = store.view()->fetch<ClipItem>(request);
        QCOMPARE(textsOf(*beyond), (QStringList{QStringLiteral("RESUME"), QStringLiteral("Résumé of the year"),
                                                QStringLiteral("HTTP"), QStringLiteral("\u212Aestrel")}));
        request.setFetchOffset(0);
        request.setFetchLimit(2);
        QCOMPARE(textsOf(*store.view()->fetch<ClipItem>(request)),
                 (QStringList{QStringLiteral("say \"quoted\" words"), QStringLiteral("emoji 😀 here")}));
        request.setFetchBatchSize(1);
        auto faults = store.view()->fetch<ClipItem>(request);
        QCOMPARE(textsOf(*faults), (QStringList{QStringLiteral("say \"quoted\" words"), QStringLiteral("emoji 😀 here")}));
    }

    void dictionariesCarryOnlyTheAskedValues()
    {
        TestStore store;
        fill(store.view());
        QVERIFY(store.view()->save());
        FetchRequest request = FetchRequest::of<ClipItem>();
        request.setPropertiesToFetch({QStringLiteral("contentHash")});
        request.setSortDescriptors({{QStringLiteral("contentHash"), true}});
        request.setFetchLimit(3);
        auto rows = store.view()->fetchDictionaries(request);
        QVERIFY(rows);
        QCOMPARE(rows->size(), 3);
        QCOMPARE(rows->at(2).value(QStringLiteral("contentHash")).toLongLong(), 3);
        QCOMPARE(rows->at(2).keys(), QStringList{QStringLiteral("contentHash")});
    }

    void labelsByNameIgnoringCase()
    {
        TestStore store;
        for (const QString &name : {QStringLiteral("Work"), QStringLiteral("Écoles"), QStringLiteral("Home")}) {
            auto label = store.view()->insert<ClipLabel>();
            label->setName(name);
        }
        QVERIFY(store.view()->save());
        FetchRequest request = FetchRequest::of<ClipLabel>();
        request.setPredicate(Predicate::equal(QStringLiteral("name"), QStringLiteral("ÉCOLES"), TextComparison::CaseInsensitive));
        auto labels = store.view()->fetch<ClipLabel>(request);
        QCOMPARE(labels->size(), 1);
        QCOMPARE(labels->first()->name(), std::optional<QString>(QStringLiteral("Écoles")));
        request.setPredicate(Predicate::equal(QStringLiteral("name"), QStringLiteral("ecoles"), TextComparison::CaseInsensitive));
        QCOMPARE(store.view()->fetch<ClipLabel>(request)->size(), 0);
    }

    void mistakesAreReportedNotSilentlyEmpty_data()
    {
        QTest::addColumn<Predicate>("predicate");
        QTest::newRow("unknown attribute") << Predicate::equal(QStringLiteral("colour"), QStringLiteral("red"));
        QTest::newRow("text for an integer") << Predicate::equal(QStringLiteral("contentHash"), QStringLiteral("12"));
        QTest::newRow("integer for a Boolean") << Predicate::equal(QStringLiteral("isPinned"), qint64(1));
        QTest::newRow("search in a number")
            << Predicate::contains(QStringLiteral("contentHash"), QStringLiteral("1"), TextComparison::CaseInsensitive);
        QTest::newRow("binary attribute") << Predicate::isNull(QStringLiteral("imageData"));
    }

    void mistakesAreReportedNotSilentlyEmpty()
    {
        QFETCH(Predicate, predicate);
        TestStore store;
        FetchRequest request = FetchRequest::of<ClipItem>();
        request.setPredicate(predicate);
        auto result = store.view()->fetch(request);
        QVERIFY(!result);
        QCOMPARE(result.error().code, StoreError::Code::InvalidRequest);
        QCOMPARE(store.view()->count(request).error().code, StoreError::Code::InvalidRequest);
    }
};

QTEST_GUILESS_MAIN(TestPredicates)
#include "tst_predicates.moc"
