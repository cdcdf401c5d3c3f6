#include "StoreTestSupport.h"

#include "store/Schema.h"
#include "store/TextFolding.h"
#include "store/sql/SqlConnection.h"

#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace {

constexpr auto cd = TextComparison::CaseDiacriticInsensitive;
constexpr auto ci = TextComparison::CaseInsensitive;

struct Sample {
    QString text;
    qint64 hash;
    bool pinned = false;
    QString title = {};
    QString source = {};
    QString fileName = {};
};

// Each sample's text doubles as its name in the expected lists; oldest first.
const QList<Sample> samples{
    {u"\u212Aestrel"_s, 20},
    {u"HTTP"_s, 21},
    {u"Résumé of the year"_s, 1, false, u"CV"_s},
    {u"résumé"_s, 2, true},
    {u"RESUME"_s, 3, false, {}, u"Pâte"_s},
    {u"ÉTÉ chaud"_s, 4},
    {u"été"_s, 5},
    {u"naïve café"_s, 6},
    {u"http://example.com"_s, 7},
    {u"HTTPS://EXAMPLE.COM/path"_s, 8, true},
    {u" http://leading.space"_s, 9},
    {u"http://files/report.txt"_s, 10, false, {}, {}, u"report.txt"_s},
    {u"straße"_s, 11},
    {u"日本語のテキスト"_s, 12, false, u"Japanese"_s},
    {u"emoji 😀 here"_s, 12},
    {u"say \"quoted\" words"_s, 13},
};

void fill(StoreContext *context)
{
    qint64 time = 1700000000000;
    for (const Sample &sample : samples) {
        auto item = context->insert<ClipItem>();
        item->setKind(sample.fileName.isEmpty() ? ClipKind::Text : ClipKind::File);
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

Predicate text(const QString &needle, TextComparison comparison = cd)
{
    return Predicate::contains(u"plainText"_s, needle, comparison);
}

// The shelf's search: every indexed attribute.
Predicate search(const QString &needle)
{
    return Predicate::anyOf({text(needle), Predicate::contains(u"fileName"_s, needle, cd),
                             Predicate::contains(u"sourceAppName"_s, needle, cd),
                             Predicate::contains(u"title"_s, needle, cd)});
}

QStringList run(StoreContext *context, const Predicate &predicate, bool pending)
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setPredicate(predicate);
    request.setSortDescriptors({{u"createdAt"_s, true}});
    request.setIncludesPendingChanges(pending);
    auto items = context->fetch<ClipItem>(request);
    return items ? textsOf(*items) : QStringList{u"error: "_s + items.error().message};
}

// The texts of the saved items the predicate matches when judged in memory, oldest first.
QStringList judgedInMemory(StoreContext *context, const Predicate &predicate)
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setSortDescriptors({{u"createdAt"_s, true}});
    QStringList texts;
    for (const auto &item : *context->fetch<ClipItem>(request)) {
        if (predicate.evaluate(*item))
            texts.append(item->plainText().value_or(QString()));
    }
    return texts;
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
    // Folding ignores case and diacritics (NFD, marks dropped, case folded). Long texts fold in
    // pieces and most characters through a table of single characters: both must give the whole
    // text's folding (marks reordering across a piece's end, letters that expand, kept marks).
    void foldingEqualsWholeTextFolding()
    {
        const QStringList units{u"é"_s, u"e\u0301"_s, u"\u0327\u0301"_s, u"\u0F73"_s, u"\u0F71\u0F72"_s, u"Σ"_s,
                                u"한"_s, u"😀"_s, u"ΐ"_s, u"ǖ"_s, u"a"_s, u" "_s, u"\u1E09"_s, u"Å"_s,
                                // Kept spacing marks that reorder: 226 goes after 216.
                                u"\U0001D16D"_s, u"\U0001D165"_s};
        QRandomGenerator random(11);
        QString text;
        while (text.size() < 40'000)
            text += units[random.bounded(int(units.size()))];
        QCOMPARE(foldText(text, cd), foldedAsAWhole(text));
        QCOMPARE(foldUtf8(text.toUtf8(), cd), foldedAsAWhole(text).toUtf8());

        const QStringList companies{u"A%1b"_s, u"%1\u0301\u0327"_s, u"\u0327%1\u0301É"_s, u"ß%1한"_s,
                                    u"%1\u1BF2"_s, u"%1\U0001D165\U0001D16D%1"_s};
        int differing = 0;
        for (char32_t c = 1; c < 0x10000; ++c) {
            if (QChar::isSurrogate(c))
                continue;
            for (const QString &company : companies) {
                const QString text = company.arg(QChar(char16_t(c)));
                const QString whole = foldedAsAWhole(text);
                if ((foldText(text, cd) != whole || foldUtf8(text.toUtf8(), cd) != whole.toUtf8()) && ++differing < 10)
                    qWarning("U+%04X in %s", unsigned(c), qPrintable(company));
            }
        }
        QCOMPARE(differing, 0);

        // Malformed UTF-8 (overlong, a surrogate, past U+10FFFF, cut short, a stray
        // continuation byte) folds as its decoding does.
        for (const QByteArray bytes : {"A\xC0\x80", "\xED\xA0\x80É", "\xF4\x90\x80\x80", "É\xE2\x82", "\x80" "b", "\xEF\xBF\xBF"})
            QCOMPARE(foldUtf8(bytes, cd), foldText(QString::fromUtf8(bytes), cd).toUtf8());
    }

    // The words of the index of characters and pairs, as a search of one or two characters
    // looks them up: each once, pairs only within one text, and bytes that are not UTF-8 read
    // the way Qt reads them, as a search text is.
    void searchWordsOfCharactersAndPairs()
    {
        QCOMPARE(searchGrams({"abab", "b"}), QByteArray("61 62 61x62 62x61"));
        QCOMPARE(searchGrams({"\xC3\xA9\xF0\x9F\x98\x80"}), QByteArray("e9 1f600 e9x1f600"));
        QCOMPARE(searchGrams({"a\xFF"}), QByteArray("61 fffd 61xfffd"));
        QCOMPARE(searchGrams({"\xEF\xBB\xBF" "a"}), QByteArray("61 feff feffx61"));
        QCOMPARE(searchGrams({QByteArrayView()}), QByteArray());
        QCOMPARE(searchGram(u"é😀"_s), u"e9x1f600"_s);
        QCOMPARE(searchGram(u"\uFFFD"_s), u"fffd"_s);
        QCOMPARE(searchGram(u"abc"_s), QString());
    }

    void storeAndMemoryAgree_data()
    {
        QTest::addColumn<Predicate>("predicate");
        QTest::addColumn<QStringList>("expected");
        const QString plainText = u"plainText"_s;
        const QStringList resumes{u"Résumé of the year"_s, u"résumé"_s, u"RESUME"_s};

        // Three letters and more go through the trigram index, fewer through the distinct characters.
        QTest::newRow("resume finds Résumé") << text(u"resume"_s) << resumes;
        QTest::newRow("two letters") << text(u"ÉT"_s) << QStringList{u"ÉTÉ chaud"_s, u"été"_s};
        QTest::newRow("one letter that expands") << text(u"ß"_s) << QStringList{u"straße"_s};
        QTest::newRow("case only keeps accents") << text(u"RÉSUMÉ"_s, ci) << resumes.mid(0, 2);
        QTest::newRow("exact") << text(u"sumé"_s, TextComparison::Exact) << resumes.mid(0, 2);
        QTest::newRow("japanese, two characters") << text(u"日本"_s) << QStringList{u"日本語のテキスト"_s};
        QTest::newRow("quotes in the search") << text(u"\"quoted\""_s) << QStringList{u"say \"quoted\" words"_s};
        QTest::newRow("empty search matches nothing") << text(QString()) << QStringList{};
        // Saved as UTF-8, which cannot hold half of a surrogate pair.
        QTest::newRow("half an emoji") << text(QString(QChar(0xD83D))) << QStringList{};
        QTest::newRow("search: half an emoji") << search(QString(QChar(0xDE00))) << QStringList{};
        QTest::newRow("only a combining mark matches nothing") << text(u"\u0301"_s) << QStringList{};
        QTest::newRow("one indexed attribute ignores the others") << text(u"JAPANESE"_s) << QStringList{};
        QTest::newRow("search: title") << search(u"cv"_s) << QStringList{u"Résumé of the year"_s};
        QTest::newRow("search: source") << search(u"PATE"_s) << QStringList{u"RESUME"_s};
        QTest::newRow("search: file name") << search(u"report"_s) << QStringList{u"http://files/report.txt"_s};
        QTest::newRow("search: one trigram") << search(u"SUM"_s) << resumes;
        QTest::newRow("search: two letters apart are no match")
            << search(u"EA"_s) << QStringList{u"Résumé of the year"_s, u" http://leading.space"_s};
        QTest::newRow("search: one letter in a title or a text")
            << search(u"J"_s) << QStringList{u"日本語のテキスト"_s, u"emoji 😀 here"_s};
        QTest::newRow("search: emoji and a space") << search(u"😀 "_s) << QStringList{u"emoji 😀 here"_s};
        // Trigrams stand at characters, not bytes or UTF-16 units.
        QTest::newRow("search: across an emoji") << search(u"I 😀 HE"_s) << QStringList{u"emoji 😀 here"_s};
        QTest::newRow("links")
            << (Predicate::equal(u"kind"_s, u"text"_s)
                && (Predicate::beginsWith(plainText, u"http://"_s, ci) || Predicate::beginsWith(plainText, u"https://"_s, ci)))
            << QStringList{u"http://example.com"_s, u"HTTPS://EXAMPLE.COM/path"_s};
        QTest::newRow("prefix through a non-ASCII letter that folds to ASCII")
            << Predicate::beginsWith(plainText, u"KEST"_s, ci) << QStringList{u"\u212Aestrel"_s};
        QTest::newRow("prefix longer than a text")
            << Predicate::beginsWith(plainText, u"http:"_s, ci)
            << QStringList{u"http://example.com"_s, u"http://files/report.txt"_s};
        QTest::newRow("exact prefix keeps case")
            << Predicate::beginsWith(plainText, u"HTTP"_s) << QStringList{u"HTTP"_s, u"HTTPS://EXAMPLE.COM/path"_s};
        QTest::newRow("pinned") << Predicate::equal(u"isPinned"_s, true)
                                << QStringList{u"résumé"_s, u"HTTPS://EXAMPLE.COM/path"_s};
        QList<qint64> many;
        for (qint64 i = 1000; i < 1500; ++i)
            many.append(i);
        many.append(3);
        QTest::newRow("hash in a long list") << Predicate::in(u"contentHash"_s, many) << QStringList{u"RESUME"_s};
        QTest::newRow("text equality ignoring case")
            << Predicate::equal(plainText, u"ÉTÉ"_s, ci) << QStringList{u"été"_s};
        QTest::newRow("no title")
            << (Predicate::isNull(u"title"_s) && Predicate::equal(u"contentHash"_s, qint64(2)))
            << QStringList{u"résumé"_s};
    }

    void storeAndMemoryAgree()
    {
        QFETCH(Predicate, predicate);
        QFETCH(QStringList, expected);
        TestStore store;
        fill(store.view());
        // Unsaved: judged in memory; saved: by SQL, through the index where it applies.
        QCOMPARE(run(store.view(), predicate, true), expected);
        QVERIFY(store.view()->save());
        QCOMPARE(run(store.view(), predicate, false), expected);
        QCOMPARE(run(store.view(), predicate, true), expected);
        // The same rows once they have left the waiting list for the indexes.
        QVERIFY(store.container->indexWaitingRows());
        QCOMPARE(run(store.view(), predicate, false), expected);
    }

    // Values the ordinary samples lack, saved and then judged by SQL (waiting for the index and
    // indexed) and in memory (as a changed object would be).
    // Searches of three characters and more test where each trigram stands: texts of few
    // letters repeat their trigrams at many places and in several attributes, where a test
    // that skips ahead wrongly or takes a trigram of another attribute finds too much or too little.
    void searchesAmongRepeatedTrigramsAgree_data()
    {
        QTest::addColumn<QStringList>("letters");
        QTest::newRow("letters") << QStringList{u"a"_s, u"b"_s, u"é"_s, u"E"_s, u" "_s};
        // Characters that the index, a decoder or the folding take apart from the others.
        QTest::newRow("odd characters")
            << QStringList{u"a"_s, u"\uFFFD"_s, u"\uFFFE"_s, u"\uFEFF"_s, QString(QChar(0)), u"?"_s,
                           u"\""_s, u"\u0301"_s, u"\u0903"_s, u"ß"_s, u"ﬃ"_s};
    }

    void searchesAmongRepeatedTrigramsAgree()
    {
        QFETCH(QStringList, letters);
        TestStore store;
        StoreContext *view = store.view();
        QRandomGenerator random(20261207);
        auto randomText = [&](int longest) {
            QString text;
            const int length = int(random.bounded(longest + 1));
            while (text.size() < length)
                text += letters[random.bounded(int(letters.size()))];
            return text;
        };
        QStringList texts;
        for (int i = 0; i < 120; ++i) {
            texts.append(randomText(40));
            auto item = insertText(view, texts.last());
            item->setCreatedAt(QDateTime::fromMSecsSinceEpoch(1700000000000 + i, Qt::UTC));
            if (random.bounded(3) == 0)
                item->setTitle(randomText(12));
            if (random.bounded(4) == 0)
                item->setSourceAppName(randomText(8));
        }
        QVERIFY(view->save());
        QVERIFY(store.container->indexWaitingRows());
        const QList<QStringList> scopes{schema::searchedAttributes(), {u"plainText"_s}, {u"title"_s, u"sourceAppName"_s}};
        for (int i = 0; i < 300; ++i) {
            // Half of them cut from a text, so that most of those are found.
            const int length = 3 + int(random.bounded(10));
            const QString &from = texts[random.bounded(int(texts.size()))];
            const QString needle = i % 2 == 0 && from.size() >= length
                ? from.mid(random.bounded(int(from.size()) - length + 1), length)
                : randomText(length).leftJustified(3, QLatin1Char('a'));
            QList<Predicate> parts;
            for (const QString &attribute : scopes[i % scopes.size()])
                parts.append(Predicate::contains(attribute, needle, cd));
            const Predicate predicate = Predicate::anyOf(parts);
            QCOMPARE(run(view, predicate, false), judgedInMemory(view, predicate));
        }
        // A search of hundreds of characters (one pasted into the search field).
        QString longText;
        while (longText.size() < 3000)
            longText += randomText(40);
        insertText(view, longText)->setCreatedAt(QDateTime::fromMSecsSinceEpoch(1800000000000, Qt::UTC));
        QVERIFY(view->save());
        QVERIFY(store.container->indexWaitingRows());
        for (const QString &needle : QStringList{longText.mid(1000, 400), longText.mid(7, 1501), longText.mid(7, 1500) + u"x"_s}) {
            const QStringList found = run(view, search(needle), false);
            QCOMPARE(found, judgedInMemory(view, search(needle)));
            QCOMPARE(found.contains(longText), !needle.endsWith(u'x'));
        }
    }

    void oddValuesAgree_data()
    {
        QTest::addColumn<Predicate>("predicate");
        QTest::addColumn<QStringList>("expected");
        const QString nulText = u"abc"_s + QChar(0) + u"defgh"_s;
        // The trigram index ends a text at its first U+0000.
        QTest::newRow("text after a NUL") << search(u"DEFG"_s) << QStringList{nulText, u"xdefgh"_s};
        QTest::newRow("NUL in a search") << search(u"c"_s + QChar(0) + u"d"_s) << QStringList{nulText};
        QTest::newRow("NUL in a search of one attribute") << text(u"c"_s + QChar(0) + u"de"_s) << QStringList{nulText};
        // Canonical ordering moves the stem (class 216) before every dot (226) of a long run,
        // past where a long text's prefix is cut to fold it.
        const QString marks = u"aaaa"_s + QString(u"\U0001D16D"_s).repeated(30) + u"\U0001D165 tail"_s;
        QTest::newRow("prefix whose mark is reordered")
            << Predicate::beginsWith(u"plainText"_s, u"AAAA\U0001D16D"_s, cd) << QStringList{};
        QTest::newRow("prefix with the reordered mark")
            << Predicate::beginsWith(u"plainText"_s, u"aaaa\U0001D165"_s, cd) << QStringList{marks};
        // Any number but 0 reads as true; a text is no Boolean at all.
        QTest::newRow("true written as 2 or 0.5")
            << Predicate::equal(u"isPinned"_s, true) << QStringList{u"pinned elsewhere"_s, u"half pinned"_s};
        QTest::newRow("false beside a text")
            << Predicate::equal(u"isPinned"_s, false) << QStringList{nulText, u"xdefgh"_s, marks, u"beyond 64 bits"_s};
        // Integers compare as stored: a real is not rounded, a text is no number.
        QTest::newRow("integer beside a text")
            << Predicate::equal(u"contentHash"_s, 0) << QStringList{nulText, u"xdefgh"_s, marks, u"pinned elsewhere"_s};
        QTest::newRow("integer beside a real") << Predicate::equal(u"contentHash"_s, 8) << QStringList{};
        // 2^63 stays a real, and SQL compares it with the largest integer exactly.
        QTest::newRow("largest integer beside 2^63")
            << Predicate::equal(u"contentHash"_s, std::numeric_limits<qint64>::max()) << QStringList{};
        QTest::newRow("one of the largest integers beside 2^63")
            << Predicate::in(u"contentHash"_s, QList<qint64>{std::numeric_limits<qint64>::max()}) << QStringList{};
        QTest::newRow("one of integers beside a real and a text")
            << Predicate::in(u"contentHash"_s, QList<qint64>{8, 0})
            << QStringList{nulText, u"xdefgh"_s, marks, u"pinned elsewhere"_s};
        // Bytes that are not UTF-8 read as U+FFFD.
        QTest::newRow("text written as other bytes")
            << Predicate::equal(u"sourceAppName"_s, u"A\uFFFDB"_s) << QStringList{u"pinned elsewhere"_s};
        QTest::newRow("one of texts written as other bytes")
            << Predicate::in(u"sourceAppName"_s, QStringList{u"Other"_s, u"A\uFFFDB"_s}) << QStringList{u"pinned elsewhere"_s};
        // Bytes in a text attribute equal no text, yet folded comparisons read them as UTF-8.
        QTest::newRow("text written as a blob") << Predicate::equal(u"title"_s, u"Blob"_s) << QStringList{};
        QTest::newRow("one of texts written as a blob") << Predicate::in(u"title"_s, QStringList{u"Blob"_s}) << QStringList{};
        QTest::newRow("blob compared without case") << Predicate::equal(u"title"_s, u"BLOB"_s, ci) << QStringList{u"xdefgh"_s};
        QTest::newRow("blob's prefix") << Predicate::beginsWith(u"title"_s, u"bl"_s, ci) << QStringList{u"xdefgh"_s};
        QTest::newRow("blob's exact prefix") << Predicate::beginsWith(u"title"_s, u"Bl"_s, TextComparison::Exact) << QStringList{u"xdefgh"_s};
        QTest::newRow("search in a blob, exact") << Predicate::contains(u"title"_s, u"lob"_s, TextComparison::Exact) << QStringList{u"xdefgh"_s};
        QTest::newRow("search in a blob") << Predicate::contains(u"title"_s, u"LOB"_s, cd) << QStringList{u"xdefgh"_s};
        QTest::newRow("one character in a blob") << Predicate::contains(u"title"_s, u"L"_s, cd) << QStringList{u"xdefgh"_s};
    }

    void oddValuesAgree()
    {
        QFETCH(Predicate, predicate);
        QFETCH(QStringList, expected);
        TestStore store;
        StoreContext *view = store.view();
        const QStringList texts{u"abc"_s + QChar(0) + u"defgh"_s, u"xdefgh"_s,
                                u"aaaa"_s + QString(u"\U0001D16D"_s).repeated(30) + u"\U0001D165 tail"_s,
                                u"pinned elsewhere"_s, u"half pinned"_s, u"pinned as text"_s, u"beyond 64 bits"_s};
        for (qsizetype i = 0; i < texts.size(); ++i)
            insertText(view, texts[i])->setCreatedAt(QDateTime::fromMSecsSinceEpoch(1700000000000 + i, Qt::UTC));
        QVERIFY(view->save());
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw && registerFoldingFunctions((*raw)->handle()) == 0);
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET isPinned = 2, sourceAppName = CAST(X'41FF42' AS TEXT) "
                                 "WHERE plainText = 'pinned elsewhere'"_s));
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET isPinned = 0.5, contentHash = 7.5 WHERE plainText = 'half pinned'"_s));
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET isPinned = 'yes', contentHash = 'none' "
                                 "WHERE plainText = 'pinned as text'"_s));
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET title = X'426C6F62' WHERE plainText = 'xdefgh'"_s));
            QVERIFY((*raw)->exec(u"UPDATE ClipItem SET contentHash = 9223372036854775808.0 "
                                 "WHERE plainText = 'beyond 64 bits'"_s));
        }
        view->refreshAll();
        QCOMPARE(judgedInMemory(view, predicate), expected);
        QCOMPARE(run(view, predicate, false), expected);
        QVERIFY(store.container->indexWaitingRows());
        QCOMPARE(run(view, predicate, false), expected);
    }

    // The trigram tokenizer reads U+FFFE and U+FFFF as U+FFFD, half of a surrogate pair is
    // saved (and searched in memory) as "?", and U+FEFF is a byte order mark only to some
    // decoders: a search holding any of them finds what memory finds.
    void searchesOfCharactersTheIndexReadsAlikeAgree_data()
    {
        QTest::addColumn<Predicate>("predicate");
        QTest::addColumn<QStringList>("expected");
        const QString lowHalf(QChar(0xDC00));
        QTest::newRow("replacement character") << search(u"a\uFFFDb"_s) << QStringList{u"a\uFFFDbc"_s};
        QTest::newRow("U+FFFE in one attribute") << text(u"\uFFFEbc"_s) << QStringList{u"a\uFFFEbc"_s};
        QTest::newRow("U+FFFF, one trigram") << search(u"\uFFFFBC"_s) << QStringList{u"a\uFFFFbc"_s};
        QTest::newRow("half a pair, three characters") << search(u"A"_s + lowHalf + u"bc"_s) << QStringList{u"xa?bcx"_s};
        QTest::newRow("half a pair, two characters") << search(u"A"_s + lowHalf + u"b"_s) << QStringList{u"xa?bcx"_s};
        QTest::newRow("half a pair, one character")
            << text(lowHalf + u"b"_s) << QStringList{u"xa?bcx"_s, u"b?b"_s};
        QTest::newRow("first half of a pair") << search(QChar(0xD800) + u"bc"_s) << QStringList{u"xa?bcx"_s};
        QTest::newRow("U+FEFF first") << search(u"\uFEFFRS"_s) << QStringList{u"q\uFEFFrst"_s};
        QTest::newRow("U+FEFF starting a trigram") << text(u"Q\uFEFFRS"_s) << QStringList{u"q\uFEFFrst"_s};
    }

    void searchesOfCharactersTheIndexReadsAlikeAgree()
    {
        QFETCH(Predicate, predicate);
        QFETCH(QStringList, expected);
        TestStore store;
        StoreContext *view = store.view();
        const QStringList texts{u"a\uFFFDbc"_s, u"a\uFFFEbc"_s, u"a\uFFFFbc"_s, u"xa?bcx"_s, u"b?b"_s, u"q\uFEFFrst"_s};
        for (qsizetype i = 0; i < texts.size(); ++i)
            insertText(view, texts[i])->setCreatedAt(QDateTime::fromMSecsSinceEpoch(1700000000000 + i, Qt::UTC));
        QCOMPARE(run(view, predicate, true), expected);
        QVERIFY(view->save());
        QCOMPARE(run(view, predicate, false), expected);
        QVERIFY(store.container->indexWaitingRows());
        QCOMPARE(run(view, predicate, false), expected);
        QCOMPARE(judgedInMemory(view, predicate), expected);
    }

    // A 16-bit attribute that another program set beyond 16 bits is read as written, not
    // cut to 16 bits: memory then finds what SQL finds.
    void aWideSixteenBitValueIsReadAsWritten()
    {
        TestStore store;
        StoreContext *view = store.view();
        auto label = view->insert<ClipLabel>();
        label->setName(u"wide"_s);
        QVERIFY(view->save());
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw && (*raw)->exec(u"UPDATE ClipLabel SET colorIndex = 70000"_s));
        }
        view->refreshAll();
        for (qint64 wanted : {qint64(70000), qint64(qint16(70000))}) {
            FetchRequest request = FetchRequest::of<ClipLabel>();
            request.setPredicate(Predicate::equal(u"colorIndex"_s, wanted));
            const auto found = view->fetch(request);
            QVERIFY(found);
            QCOMPARE(found->size() == 1, wanted == 70000);
            QCOMPARE(request.predicate()->evaluate(*label), wanted == 70000);
        }
    }

    // Setting a value where another program wrote a text stores the value, also where
    // QVariant calls the two equal ('yes' and true, 'false' and false).
    void settingReplacesATextAnotherProgramWrote_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("pinned");
        QTest::newRow("pinning 'yes'") << u"'yes'"_s << true;
        QTest::newRow("unpinning 'false'") << u"'false'"_s << false;
    }

    void settingReplacesATextAnotherProgramWrote()
    {
        QFETCH(QString, written);
        QFETCH(bool, pinned);
        TestStore store;
        StoreContext *view = store.view();
        auto item = insertText(view, u"item"_s);
        QVERIFY(view->save());
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw && (*raw)->exec(u"UPDATE ClipItem SET isPinned = %1"_s.arg(written)));
        }
        view->refreshAll();
        item->setPinned(pinned);
        QVERIFY(view->save());
        QCOMPARE(item->isPinned(), pinned);
        QCOMPARE(run(view, Predicate::equal(u"isPinned"_s, pinned), false), QStringList{u"item"_s});
    }

    // Indexed rows follow edits and deletions: searches of one, two and more characters find
    // an edited row by its new text only and a deleted one nowhere, also one deleted by plain
    // SQL, which leaves its words in the index of characters and pairs behind.
    void indexedRowsFollowChanges()
    {
        TestStore store;
        StoreContext *view = store.view();
        fill(view);
        QVERIFY(view->save());
        QVERIFY(store.container->indexWaitingRows());
        for (const auto &item : *view->fetch<ClipItem>(itemsNewestFirst())) {
            if (item->plainText() == u"été"_s)
                item->setPlainText(u"winter"_s);
            if (item->plainText() == u"straße"_s)
                item->setTitle(u"Qz"_s);
            if (item->plainText() == u"naïve café"_s)
                view->deleteObject(item);
        }
        QVERIFY(view->save());
        {
            auto raw = sql::Connection::open(store.path(), {});
            QVERIFY(raw && (*raw)->exec(u"DELETE FROM ClipItem WHERE plainText = 'ÉTÉ chaud'"_s));
        }
        for (const QString &needle : {u"é"_s, u"ÉT"_s, u"W"_s, u"wi"_s, u"Q"_s, u"qZ"_s, u"ï"_s, u"af"_s,
                                      u"café"_s, u"ch"_s, u"winter"_s}) {
            const QStringList expected = judgedInMemory(view, search(needle));
            QCOMPARE(run(view, search(needle), false), expected);
        }
        QCOMPARE(run(view, search(u"ÉT"_s), false), QStringList{});
        QCOMPARE(run(view, search(u"qZ"_s), false), QStringList{u"straße"_s});
        QCOMPARE(run(view, search(u"af"_s), false), QStringList{});
        // The store's own deletion took its row out of the index; plain SQL's left it there.
        auto postings = [&](const QString &word) {
            auto raw = sql::Connection::open(store.path(), {});
            return raw ? (*raw)->queryInt64(u"SELECT count(*) FROM ClipItem_grams WHERE ClipItem_grams MATCH '%1'"_s.arg(word))
                       : StoreResult<qint64>(raw.error());
        };
        QCOMPARE(*postings(searchGram(u"af"_s)), 0);
        QCOMPARE(*postings(searchGram(u"ch"_s)), 1);
    }

    void pendingChangesCountUnlessExcluded()
    {
        TestStore store;
        StoreContext *view = store.view();
        fill(view);
        QVERIFY(view->save());
        // One match stops matching, another starts, a third is deleted, a new one is unsaved.
        for (const auto &item : *view->fetch<ClipItem>(itemsNewestFirst())) {
            if (item->plainText() == u"RESUME"_s)
                item->setPlainText(u"CV"_s);
            if (item->plainText() == u"été"_s)
                item->setPlainText(u"résumé d'été"_s);
            if (item->plainText() == u"résumé"_s)
                view->deleteObject(item);
        }
        insertText(view, u"Resume, unsaved"_s)->setCreatedAt(QDateTime::fromMSecsSinceEpoch(1800000000000, Qt::UTC));
        QCOMPARE(run(view, text(u"resume"_s), true),
                 (QStringList{u"Résumé of the year"_s, u"résumé d'été"_s, u"Resume, unsaved"_s}));
        // Saved rows only: the same objects come back, showing their unsaved values.
        QCOMPARE(run(view, text(u"resume"_s), false), (QStringList{u"Résumé of the year"_s, u"résumé"_s, u"CV"_s}));

        FetchRequest request = itemsNewestFirst();
        request.setPredicate(text(u"resume"_s));
        QCOMPARE(*view->count(request), 3);
        request.setFetchOffset(1);
        request.setFetchLimit(1);
        QCOMPARE(textsOf(*view->fetch<ClipItem>(request)), QStringList{u"résumé d'été"_s});
    }

    void offsetLimitAndPropertiesToFetch()
    {
        TestStore store;
        fill(store.view());
        QVERIFY(store.view()->save());
        FetchRequest request = itemsNewestFirst();
        request.setPredicate(Predicate::equal(u"isPinned"_s, false));
        request.setFetchOffset(10);
        request.setIncludesPendingChanges(false);
        QCOMPARE(textsOf(*store.view()->fetch<ClipItem>(request)),
                 (QStringList{u"RESUME"_s, u"Résumé of the year"_s, u"HTTP"_s, u"\u212Aestrel"_s}));
        request.setFetchOffset(0);
        request.setFetchLimit(2);
        request.setFetchBatchSize(1);
        QCOMPARE(textsOf(*store.view()->fetch<ClipItem>(request)),
                 (QStringList{u"say \"quoted\" words"_s, u"emoji 😀 here"_s}));

        request = FetchRequest::of<ClipItem>();
        request.setPropertiesToFetch({u"contentHash"_s});
        request.setSortDescriptors({{u"contentHash"_s, true}});
        request.setFetchLimit(3);
        auto rows = store.view()->fetchDictionaries(request);
        QVERIFY(rows);
        QCOMPARE(rows->size(), 3);
        QCOMPARE(rows->at(2), (QVariantMap{{u"contentHash"_s, qint64(3)}}));
    }

    void mistakesAreReportedNotSilentlyEmpty_data()
    {
        QTest::addColumn<Predicate>("predicate");
        QTest::newRow("unknown attribute") << Predicate::equal(u"colour"_s, u"red"_s);
        QTest::newRow("text for an integer") << Predicate::equal(u"contentHash"_s, u"12"_s);
        QTest::newRow("search in a number") << Predicate::contains(u"contentHash"_s, u"1"_s, ci);
        QTest::newRow("binary attribute") << Predicate::isNull(u"imageData"_s);
    }

    void mistakesAreReportedNotSilentlyEmpty()
    {
        QFETCH(Predicate, predicate);
        TestStore store;
        FetchRequest request = FetchRequest::of<ClipItem>();
        request.setPredicate(predicate);
        QCOMPARE(store.view()->fetch(request).error().code, StoreError::Code::InvalidRequest);
        QCOMPARE(store.view()->count(request).error().code, StoreError::Code::InvalidRequest);
    }
};

QTEST_GUILESS_MAIN(TestPredicates)
#include "tst_predicates.moc"
