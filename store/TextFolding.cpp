#include "store/TextFolding.h"

#include "store/Utf8Text.h"

#include <sqlite3.h>

#include <QHash>
#include <QSet>

#include <algorithm>
#include <bitset>
#include <optional>
#include <string>
#include <vector>

namespace {

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

QString asciiLower(QStringView text)
{
    QString result(text.size(), Qt::Uninitialized);
    QChar *out = result.data();
    for (QChar c : text) {
        const char16_t u = c.unicode();
        *out++ = QChar(u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u);
    }
    return result;
}

char32_t codePointAt(QStringView text, qsizetype i)
{
    const QChar unit = text[i];
    if (unit.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(unit, text[i + 1]);
    return unit.unicode();
}

// Whether decomposing the text before position i and after it separately gives the same
// as decomposing it whole: canonical reordering never moves a mark across a starter
// (combining class 0) whose own decomposition also begins with a starter.
bool isDecompositionBoundary(QStringView text, qsizetype i)
{
    if (text[i].isLowSurrogate())
        return false;
    const char32_t c = codePointAt(text, i);
    if (c < 0x300)
        return true;
    if (QChar::combiningClass(c) != 0)
        return false;
    const QString decomposition = QChar::decomposition(c);
    return decomposition.isEmpty() || QChar::combiningClass(codePointAt(decomposition, 0)) == 0;
}

// Canonical decomposition (NFD). Qt decomposes a string in place, which costs time
// quadratic in its length, so a long text is decomposed in pieces. A run of marks longer
// than a piece can hold (no real text has one) is cut anyway: at worst the order of the
// marks kept at the cut differs from a whole decomposition.
QString decomposed(QStringView text)
{
    constexpr qsizetype pieceLength = 128;
    constexpr qsizetype longestPiece = 16 * pieceLength;
    if (text.size() <= pieceLength)
        return text.toString().normalized(QString::NormalizationForm_D);
    QString result;
    result.reserve(text.size() + text.size() / 8);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = std::min(start + pieceLength, text.size());
        while (end < text.size() && end - start < longestPiece && !isDecompositionBoundary(text, end))
            ++end;
        if (end < text.size() && text[end].isLowSurrogate())
            ++end;
        result += text.sliced(start, end - start).toString().normalized(QString::NormalizationForm_D);
        start = end;
    }
    return result;
}

bool isStrippedMark(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing;
}

QString stripMarks(const QString &decomposed)
{
    QString result;
    result.reserve(decomposed.size());
    const qsizetype size = decomposed.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar unit = decomposed[i];
        char32_t c = unit.unicode();
        const bool pair = unit.isHighSurrogate() && i + 1 < size && decomposed[i + 1].isLowSurrogate();
        if (pair)
            c = QChar::surrogateToUcs4(unit, decomposed[i + 1]);
        if (!isStrippedMark(c)) {
            result.append(unit);
            if (pair)
                result.append(decomposed[i + 1]);
        }
        if (pair)
            ++i;
    }
    return result;
}

// The fold of each BMP character taken alone, where that is its fold within any text: its
// decomposition has no surrogates and every mark in it is stripped, so that reordering marks
// cannot change the result. Such folds may also be several units (a Hangul syllable to its
// letters, which are never reordered). Other characters (surrogates, kept combining marks)
// fold with the whole text.
constexpr char16_t foldsToNothing = 0xFFFE;
constexpr char16_t foldsOnlyInText = 0xFFFF;

struct CharacterFolds {
    std::vector<char16_t> single = std::vector<char16_t>(0x10000, foldsOnlyInText);
    QHash<char16_t, QString> several;
};

CharacterFolds makeCharacterFolds()
{
    CharacterFolds folds;
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (QChar::isSurrogate(c))
            continue;
        const QString decomposition = QString(QChar(char16_t(c))).normalized(QString::NormalizationForm_D);
        bool alone = true;
        for (QChar unit : decomposition) {
            if (unit.isSurrogate() || (unit.combiningClass() != 0 && !isStrippedMark(unit.unicode())))
                alone = false;
        }
        if (!alone)
            continue;
        const QString folded = stripMarks(decomposition).toCaseFolded();
        const bool plainUnits = std::all_of(folded.cbegin(), folded.cend(), [](QChar unit) {
            return !unit.isSurrogate() && unit.unicode() < foldsToNothing;
        });
        if (folded.isEmpty())
            folds.single[c] = foldsToNothing;
        else if (!plainUnits)
            continue;
        else if (folded.size() == 1)
            folds.single[c] = folded[0].unicode();
        else
            folds.several.insert(char16_t(c), folded);
    }
    return folds;
}

const CharacterFolds &characterFolds()
{
    static const CharacterFolds folds = makeCharacterFolds();
    return folds;
}

// Folding each character through the table costs a fraction of decomposing the whole text.
std::optional<QString> foldCharacterwise(QStringView text)
{
    const CharacterFolds &folds = characterFolds();
    QString result(text.size(), Qt::Uninitialized);
    QChar *out = result.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t folded = folds.single[text[i].unicode()];
        if (folded == foldsToNothing)
            continue;
        if (folded != foldsOnlyInText) {
            *out++ = QChar(folded);
            continue;
        }
        const auto several = folds.several.constFind(text[i].unicode());
        if (several == folds.several.cend())
            return std::nullopt;
        // Room for the rest of the text as well, each unit folding to one.
        const qsizetype written = out - result.constData();
        const qsizetype needed = written + several->size() + (text.size() - i - 1);
        if (needed > result.size()) {
            result.resize(std::max(needed, result.size() + result.size() / 2));
            out = result.data() + written;
        }
        out = std::copy(several->cbegin(), several->cend(), out);
    }
    result.truncate(out - result.constData());
    return result;
}

// The UTF-8 of each BMP character's fold, so that stored texts fold without being decoded
// into UTF-16 and encoded back: an entry is the offset of the fold in `bytes` and its length.
struct Utf8Folds {
    static constexpr quint8 onlyInText = 0xFF;
    struct Entry {
        quint32 offset = 0;
        quint8 length = onlyInText;
    };
    std::vector<Entry> entries = std::vector<Entry>(0x10000);
    QByteArray bytes;
};

Utf8Folds makeUtf8Folds()
{
    const CharacterFolds &folds = characterFolds();
    Utf8Folds utf8;
    for (char32_t c = 0; c < 0x10000; ++c) {
        const char16_t single = folds.single[c];
        QString folded;
        if (single == foldsOnlyInText) {
            const auto several = folds.several.constFind(char16_t(c));
            if (several == folds.several.cend())
                continue;
            folded = *several;
        } else if (single != foldsToNothing) {
            folded = QChar(single);
        }
        const QByteArray encoded = folded.toUtf8();
        utf8.entries[c] = {quint32(utf8.bytes.size()), quint8(encoded.size())};
        utf8.bytes += encoded;
    }
    return utf8;
}

const Utf8Folds &utf8Folds()
{
    static const Utf8Folds folds = makeUtf8Folds();
    return folds;
}

// The code point of a well-formed UTF-8 sequence of at most three bytes at data[i], with its
// length; nothing for anything else (four-byte sequences, overlong forms, surrogates,
// truncation), which the decoding path handles.
std::optional<std::pair<char16_t, int>> bmpCodePointAt(const unsigned char *data, qsizetype i, qsizetype size)
{
    const unsigned char lead = data[i];
    auto continuation = [&](qsizetype at, unsigned char low = 0x80, unsigned char high = 0xBF) {
        return at < size && data[at] >= low && data[at] <= high;
    };
    if (lead >= 0xC2 && lead <= 0xDF && continuation(i + 1))
        return std::pair{char16_t(((lead & 0x1F) << 6) | (data[i + 1] & 0x3F)), 2};
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        if (continuation(i + 1, low, high) && continuation(i + 2))
            return std::pair{char16_t(((lead & 0x0F) << 12) | ((data[i + 1] & 0x3F) << 6) | (data[i + 2] & 0x3F)), 3};
    }
    return std::nullopt;
}

// Folds UTF-8 character by character through the table; nothing when a character needs the
// whole text (or is not plain BMP UTF-8).
std::optional<QByteArray> foldUtf8Characterwise(const unsigned char *data, qsizetype size)
{
    const Utf8Folds &folds = utf8Folds();
    QByteArray result(size + size / 8 + 16, Qt::Uninitialized);
    qsizetype written = 0;
    for (qsizetype i = 0; i < size;) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            result[written++] = char(lead >= 'A' && lead <= 'Z' ? lead + 32 : lead);
            ++i;
            continue;
        }
        const auto codePoint = bmpCodePointAt(data, i, size);
        if (!codePoint)
            return std::nullopt;
        const Utf8Folds::Entry entry = folds.entries[codePoint->first];
        if (entry.length == Utf8Folds::onlyInText)
            return std::nullopt;
        if (written + entry.length > result.size())
            result.resize(std::max(written + entry.length + (size - i), result.size() + result.size() / 2));
        std::copy_n(folds.bytes.constData() + entry.offset, entry.length, result.data() + written);
        written += entry.length;
        i += codePoint->second;
    }
    result.truncate(written);
    return result;
}

TextComparison comparisonFromInt(int mode)
{
    switch (mode) {
    case 1: return TextComparison::CaseInsensitive;
    case 2: return TextComparison::CaseDiacriticInsensitive;
    default: return TextComparison::Exact;
    }
}

bool isAsciiUtf8(const char *data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return false;
    }
    return true;
}

QString textArgument(sqlite3_value *value)
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_value_text(value));
    return textFromUtf8(QByteArrayView(data, sqlite3_value_bytes(value)));
}

struct FoldedNeedle {
    TextComparison comparison = TextComparison::Exact;
    QString text;
};

// Folds only as much of a long UTF-8 text as is needed to decide whether it starts with
// an already folded needle. The folded prefix of a text ending before a decomposition
// boundary is a prefix of the folded text; kept marks after it may still be reordered
// across a whole run of marks, so the rest of that run is left out.
bool utf8StartsWithFolded(const char *data, qsizetype size, const QString &foldedNeedle,
                          TextComparison comparison)
{
    qsizetype take = 4 * foldedNeedle.size() + 64;
    while (true) {
        if (take >= size) {
            const QString folded = foldText(textFromUtf8(QByteArrayView(data, size)), comparison);
            return folded.startsWith(foldedNeedle);
        }
        qsizetype end = take;
        while (end > 0 && (static_cast<unsigned char>(data[end]) & 0xC0) == 0x80)
            --end;
        const QString prefix = textFromUtf8(QByteArrayView(data, end));
        qsizetype boundary = prefix.size() - 1;
        while (boundary > 0 && !isDecompositionBoundary(prefix, boundary))
            --boundary;
        const QString folded = foldText(QStringView(prefix).first(std::max<qsizetype>(boundary, 0)), comparison);
        if (folded.size() >= foldedNeedle.size())
            return folded.startsWith(foldedNeedle);
        take *= 2;
    }
}

// Most prefixes asked for are ASCII, such as a URL scheme. While the text is ASCII as far as
// the needle reaches, folding it is lower-casing it. A non-ASCII character within that reach
// may fold to ASCII (the Kelvin sign to "k"), so it leaves the answer to the general path.
std::optional<bool> asciiStartsWith(const char *data, qsizetype size, const QString &foldedNeedle,
                                    TextComparison comparison)
{
    const qsizetype length = foldedNeedle.size();
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t wanted = foldedNeedle[i].unicode();
        if (wanted >= 0x80)
            return std::nullopt;
        if (i >= size)
            return false;
        const auto byte = static_cast<unsigned char>(data[i]);
        if (byte >= 0x80)
            return std::nullopt;
        const char16_t folded = comparison != TextComparison::Exact && byte >= 'A' && byte <= 'Z'
            ? char16_t(byte + 32) : char16_t(byte);
        if (folded != wanted)
            return false;
    }
    return true;
}

void sqlFold(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const TextComparison comparison = comparisonFromInt(sqlite3_value_int(argv[1]));
    const auto *data = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
    const qsizetype size = sqlite3_value_bytes(argv[0]);
    // Most texts are ASCII, which folds byte by byte without decoding.
    if (comparison == TextComparison::CaseInsensitive && isAsciiUtf8(data, size)) {
        QByteArray folded(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            folded[i] = data[i] >= 'A' && data[i] <= 'Z' ? char(data[i] + 32) : data[i];
        sqlite3_result_text64(context, folded.constData(), sqlite3_uint64(size), SQLITE_TRANSIENT, SQLITE_UTF8);
        return;
    }
    const QByteArray folded = foldUtf8(QByteArrayView(data, size), comparison);
    sqlite3_result_text64(context, folded.constData(), sqlite3_uint64(folded.size()),
                          SQLITE_TRANSIENT, SQLITE_UTF8);
}

void sqlContains(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const bool found = foldedContains(textArgument(argv[0]), textArgument(argv[1]),
                                      comparisonFromInt(sqlite3_value_int(argv[2])));
    sqlite3_result_int(context, found ? 1 : 0);
}

void sqlBeginsWith(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const TextComparison comparison = comparisonFromInt(sqlite3_value_int(argv[2]));
    // The prefix is the same for every row a statement tests: it is folded once and kept
    // with the statement.
    const auto *kept = static_cast<const FoldedNeedle *>(sqlite3_get_auxdata(context, 1));
    if (kept && kept->comparison != comparison)
        kept = nullptr;
    FoldedNeedle made;
    if (!kept)
        made = FoldedNeedle{comparison, foldText(textArgument(argv[1]), comparison)};
    const QString &needle = kept ? kept->text : made.text;
    bool found = false;
    if (!needle.isEmpty()) {
        const auto *data = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
        const qsizetype size = sqlite3_value_bytes(argv[0]);
        const std::optional<bool> quick = asciiStartsWith(data, size, needle, comparison);
        found = quick ? *quick : utf8StartsWithFolded(data, size, needle, comparison);
    }
    sqlite3_result_int(context, found ? 1 : 0);
    // Last: SQLite may destroy what it is given before set_auxdata returns.
    if (!kept)
        sqlite3_set_auxdata(context, 1, new FoldedNeedle(std::move(made)),
                            [](void *needle) { delete static_cast<FoldedNeedle *>(needle); });
}

// The distinct characters of a text, each once, in order of first appearance: what a
// search of one character reads instead of the whole text. Works on the UTF-8
// bytes; each character is kept whole, so instr() on the result finds only whole
// characters.
void sqlCharacters(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto *data = sqlite3_value_text(argv[0]);
    const int size = sqlite3_value_bytes(argv[0]);
    std::bitset<128> seenAscii;
    QSet<quint32> seenOthers;
    std::string characters;
    for (int i = 0; i < size;) {
        const unsigned char lead = data[i];
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
        const int taken = std::min(length, size - i);
        bool isNew;
        if (lead < 0x80) {
            isNew = !seenAscii.test(lead);
            seenAscii.set(lead);
        } else {
            quint32 key = 0;
            for (int k = 0; k < taken; ++k)
                key = (key << 8) | data[i + k];
            isNew = !seenOthers.contains(key);
            if (isNew)
                seenOthers.insert(key);
        }
        if (isNew)
            characters.append(reinterpret_cast<const char *>(data + i), size_t(taken));
        i += taken;
    }
    sqlite3_result_text(context, characters.data(), int(characters.size()), SQLITE_TRANSIENT);
}

void sqlGrams(sqlite3_context *context, int count, sqlite3_value **argv)
{
    QList<QByteArrayView> texts;
    for (int i = 0; i < count; ++i) {
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL)
            continue;
        const auto *data = reinterpret_cast<const char *>(sqlite3_value_text(argv[i]));
        texts.append(QByteArrayView(data, sqlite3_value_bytes(argv[i])));
    }
    const QByteArray grams = searchGrams(texts);
    sqlite3_result_text(context, grams.constData(), int(grams.size()), SQLITE_TRANSIENT);
}

// A character as itself, a pair as the first character plus one in the upper half: no pair
// equals a character, and U+0000 stays apart from the pairs that start with it.
quint64 pairGram(uint first, uint second)
{
    return (quint64(first) + 1) << 32 | second;
}

void appendHex(QByteArray &out, uint value)
{
    char digits[8];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (count > 0)
        out.append(digits[--count]);
}

// Written straight into the list: a row has a word for nearly every character it holds.
void appendGramWord(QByteArray &out, quint64 gram)
{
    if (!out.isEmpty())
        out.append(' ');
    if (gram >> 32 != 0) {
        appendHex(out, uint((gram >> 32) - 1));
        out.append('x');
    }
    appendHex(out, uint(gram));
}

// The code points of well-formed UTF-8, or nothing when it is not (Qt then decides what
// the bytes mean, as it does for a search text).
std::optional<std::vector<char32_t>> wellFormedCodePoints(QByteArrayView text)
{
    std::vector<char32_t> points;
    points.reserve(size_t(text.size()));
    const auto *data = reinterpret_cast<const unsigned char *>(text.data());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            points.push_back(lead);
            ++i;
            continue;
        }
        const int length = (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > size)
            return std::nullopt;
        char32_t point = lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            if ((data[i + k] & 0xC0) != 0x80)
                return std::nullopt;
            point = point << 6 | (data[i + k] & 0x3F);
        }
        static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return std::nullopt;
        points.push_back(point);
        i += length;
    }
    return points;
}

} // namespace

QByteArray searchGrams(const QList<QByteArrayView> &foldedTexts)
{
    // ASCII characters and pairs, most of any text, are marked in tables (the pairs also
    // listed as first seen, since a short text has few); the rest are collected, sorted and
    // made unique.
    std::bitset<128> asciiCharacters;
    std::bitset<128 * 128> asciiPairs;
    std::vector<quint16> asciiPairsSeen;
    std::vector<quint64> others;
    auto addCharacter = [&](char32_t c) {
        if (c < 128)
            asciiCharacters.set(c);
        else
            others.push_back(c);
    };
    auto addPair = [&](char32_t a, char32_t b) {
        if (a < 128 && b < 128) {
            const auto pair = quint16(a * 128 + b);
            if (!asciiPairs.test(pair)) {
                asciiPairs.set(pair);
                asciiPairsSeen.push_back(pair);
            }
        } else
            others.push_back(pairGram(a, b));
    };
    for (QByteArrayView text : foldedTexts) {
        std::vector<char32_t> points;
        if (auto wellFormed = wellFormedCodePoints(text)) {
            points = std::move(*wellFormed);
        } else {
            const QList<uint> decoded = textFromUtf8(text).toUcs4();
            points.assign(decoded.cbegin(), decoded.cend());
        }
        for (size_t i = 0; i < points.size(); ++i) {
            addCharacter(points[i]);
            if (i + 1 < points.size())
                addPair(points[i], points[i + 1]);
        }
    }
    std::sort(asciiPairsSeen.begin(), asciiPairsSeen.end());
    std::sort(others.begin(), others.end());
    others.erase(std::unique(others.begin(), others.end()), others.end());
    QByteArray words;
    words.reserve(qsizetype(asciiCharacters.count() * 3 + asciiPairsSeen.size() * 6 + others.size() * 12));
    for (char32_t c = 0; c < 128; ++c) {
        if (asciiCharacters.test(c))
            appendGramWord(words, c);
    }
    for (quint16 pair : asciiPairsSeen)
        appendGramWord(words, pairGram(pair / 128, pair % 128));
    for (quint64 gram : others)
        appendGramWord(words, gram);
    return words;
}

QString searchGram(QStringView folded)
{
    // Through UTF-8 as stored, so that both sides decode alike.
    const QList<uint> points = textFromUtf8(folded.toUtf8()).toUcs4();
    QByteArray word;
    if (points.size() == 1)
        appendGramWord(word, points[0]);
    else if (points.size() == 2)
        appendGramWord(word, pairGram(points[0], points[1]));
    return QString::fromLatin1(word);
}

QString foldText(QStringView text, TextComparison comparison)
{
    switch (comparison) {
    case TextComparison::Exact:
        return text.toString();
    case TextComparison::CaseInsensitive:
        return isAscii(text) ? asciiLower(text) : text.toString().toCaseFolded();
    case TextComparison::CaseDiacriticInsensitive:
        if (isAscii(text))
            return asciiLower(text);
        if (auto folded = foldCharacterwise(text))
            return *std::move(folded);
        return stripMarks(decomposed(text)).toCaseFolded();
    }
    return text.toString();
}

QByteArray foldUtf8(QByteArrayView text, TextComparison comparison)
{
    if (comparison == TextComparison::CaseDiacriticInsensitive) {
        if (auto folded = foldUtf8Characterwise(reinterpret_cast<const unsigned char *>(text.data()), text.size()))
            return *std::move(folded);
    }
    return foldText(textFromUtf8(text), comparison).toUtf8();
}

namespace {

// UTF-8 cannot hold half of a surrogate pair: a text is compared as the store keeps it (and
// as SQL sees a bound search text), else half an emoji would find the emoji in memory only.
QStringView asStored(QStringView text, QString &buffer)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (text[i].isSurrogate()) {
            buffer = textFromUtf8(text.toUtf8());
            return buffer;
        }
    }
    return text;
}

} // namespace

bool foldedContains(QStringView haystack, QStringView needle, TextComparison comparison)
{
    QString haystackBuffer, needleBuffer;
    const QString foldedNeedle = foldText(asStored(needle, needleBuffer), comparison);
    if (foldedNeedle.isEmpty())
        return false;
    return foldText(asStored(haystack, haystackBuffer), comparison).contains(foldedNeedle);
}

bool foldedStartsWith(QStringView haystack, QStringView needle, TextComparison comparison)
{
    QString haystackBuffer, needleBuffer;
    const QString foldedNeedle = foldText(asStored(needle, needleBuffer), comparison);
    if (foldedNeedle.isEmpty())
        return false;
    return foldText(asStored(haystack, haystackBuffer), comparison).startsWith(foldedNeedle);
}

bool foldedEquals(QStringView a, QStringView b, TextComparison comparison)
{
    QString aBuffer, bBuffer;
    return foldText(asStored(a, aBuffer), comparison) == foldText(asStored(b, bBuffer), comparison);
}

int registerFoldingFunctions(sqlite3 *db)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    int rc = sqlite3_create_function_v2(db, "kn_fold", 2, flags, nullptr, sqlFold, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "kn_contains", 3, flags, nullptr, sqlContains, nullptr,
                                        nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "kn_begins_with", 3, flags, nullptr, sqlBeginsWith,
                                        nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "kn_characters", 1, flags, nullptr, sqlCharacters, nullptr,
                                        nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "kn_grams", -1, flags, nullptr, sqlGrams, nullptr, nullptr, nullptr);
    return rc;
}
