// HTML to plain text with three regular expressions and the common entities.
#include "import/PastePayloadDecoder.h"

#include "import/codecs/TextEncodings.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <utility>

namespace PastePayloadDecoder {

namespace {

constexpr auto htmlOptions = QRegularExpression::CaseInsensitiveOption
    | QRegularExpression::DotMatchesEverythingOption | QRegularExpression::UseUnicodePropertiesOption;
// PCRE2 would otherwise re-validate the rest of the text on every search, which makes a
// document with many tags quadratic; withValidSurrogates makes the check unnecessary.
constexpr auto searchOptions = QRegularExpression::DontCheckSubjectStringMatchOption;

// Lone surrogates (possible in UTF-16 input) become U+FFFD: the regular-expression engine
// only works on well-formed text.
QString withValidSurrogates(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

// Replaces every match over the whole text, left to right.
QString replaceAll(const QString &text, const QString &pattern, const QString &replacement)
{
    const QRegularExpression expression(pattern, htmlOptions);
    if (!expression.isValid())
        return text;
    QString result;
    qsizetype copiedUpTo = 0;
    auto matches = expression.globalMatch(text, 0, QRegularExpression::NormalMatch, searchOptions);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result.append(QStringView(text).sliced(copiedUpTo, match.capturedStart() - copiedUpTo));
        result.append(replacement);
        copiedUpTo = match.capturedEnd();
    }
    result.append(QStringView(text).sliced(copiedUpTo));
    return result;
}

// The same as replaceAll with elementPattern and an empty replacement, without its cost on
// hostile markup: a plain search retries every unclosed opening tag up to the end of the
// text, which is quadratic. Here an opening tag (openerPattern, the element pattern's
// head, which ends at the first '>') is only tried when a closing tag of its name
// follows, which is exactly when the lazy ".*?</\1>" can succeed. The opener's head up to
// its name (headPattern) is looked at first: once no closing tag of a name follows, the
// opener, whose "[^>]*" may reach far, is not tried again for that name.
QString removeElements(const QString &text, const QString &elementPattern, const QString &openerPattern,
                       const QString &headPattern)
{
    const QRegularExpression element(elementPattern, htmlOptions);
    const QRegularExpression opener(openerPattern, htmlOptions);
    const QRegularExpression head(headPattern, htmlOptions);
    if (!element.isValid() || !opener.isValid() || !head.isValid())
        return text;
    constexpr auto anchored = QRegularExpression::AnchorAtOffsetMatchOption | searchOptions;
    QHash<QString, qsizetype> nextCloser; // case-folded name -> where its closing tag starts, -1: none
    QString result;
    qsizetype copiedUpTo = 0;
    qsizetype nextGreaterThan = -1;
    for (qsizetype at = text.indexOf(QLatin1Char('<')); at >= 0; at = text.indexOf(QLatin1Char('<'), at + 1)) {
        if (nextGreaterThan < at) {
            nextGreaterThan = text.indexOf(QLatin1Char('>'), at);
            if (nextGreaterThan < 0)
                break; // no tag can end any more
        }
        const QRegularExpressionMatch named = head.match(text, at, QRegularExpression::NormalMatch, anchored);
        if (!named.hasMatch() || nextCloser.value(named.captured(1).toCaseFolded(), -2) == -1)
            continue;
        const QRegularExpressionMatch open = opener.match(text, at, QRegularExpression::NormalMatch, anchored);
        if (!open.hasMatch())
            continue;
        const QString name = open.captured(1).toCaseFolded();
        qsizetype closer = nextCloser.value(name, -2);
        if (closer == -2 || (closer >= 0 && closer < open.capturedEnd())) {
            const QRegularExpression closing(QStringLiteral("</") + QRegularExpression::escape(open.captured(1))
                                                 + QStringLiteral(">"),
                                             htmlOptions);
            closer = closing.match(text, open.capturedEnd(), QRegularExpression::NormalMatch, searchOptions)
                         .capturedStart();
            nextCloser.insert(name, closer);
        }
        if (closer < 0)
            continue;
        const QRegularExpressionMatch whole = element.match(text, at, QRegularExpression::NormalMatch, anchored);
        if (!whole.hasMatch())
            continue;
        result.append(QStringView(text).sliced(copiedUpTo, at - copiedUpTo));
        copiedUpTo = whole.capturedEnd();
        at = whole.capturedEnd() - 1;
    }
    result.append(QStringView(text).sliced(copiedUpTo));
    return result;
}

// The same as replaceAll with <(?:[^>"']|"[^"]*"|'[^']*')*> and an empty replacement,
// without its cost on hostile markup: a plain search follows every '<' up to an unclosed
// quote or the end of the text, which is quadratic. From a '<' the pattern can go one way
// only: to the first '>' outside quotes, a quote reaching to the next of its kind; it fails
// at a quote with none after it, or at the end. Where it goes on from a quote depends on
// that quote alone, so each is followed once.
QString removeTags(const QString &text)
{
    const qsizetype size = text.size();
    const auto isSpecial = [&](qsizetype at) {
        const char16_t c = text.at(at).unicode();
        return c == u'>' || c == u'"' || c == u'\'';
    };
    const auto nextSpecial = [&](qsizetype at) {
        while (at < size && !isSpecial(at))
            ++at;
        return at;
    };
    constexpr qsizetype fails = -1;
    QHash<qsizetype, qsizetype> endFromQuote; // a quote's place -> the tag's '>', or fails
    // Where a tag whose first special character is at `at` ends.
    const auto tagEnd = [&](qsizetype at) {
        QList<qsizetype> quotes;
        qsizetype end = fails;
        while (at < size) {
            if (const auto known = endFromQuote.constFind(at); known != endFromQuote.cend()) {
                end = *known;
                break;
            }
            if (text.at(at) == QLatin1Char('>')) {
                end = at;
                break;
            }
            quotes.append(at);
            const qsizetype closing = text.indexOf(text.at(at), at + 1);
            if (closing < 0)
                break;
            at = nextSpecial(closing + 1);
        }
        for (const qsizetype quote : std::as_const(quotes))
            endFromQuote.insert(quote, end);
        return end;
    };

    QString result;
    qsizetype copiedUpTo = 0;
    qsizetype special = -1; // the first special character after the last '<' tried
    for (qsizetype at = text.indexOf(QLatin1Char('<')); at >= 0;) {
        if (special <= at)
            special = nextSpecial(at + 1);
        const qsizetype end = tagEnd(special);
        if (end == fails) {
            at = text.indexOf(QLatin1Char('<'), at + 1);
            continue;
        }
        result.append(QStringView(text).sliced(copiedUpTo, at - copiedUpTo));
        copiedUpTo = end + 1;
        at = text.indexOf(QLatin1Char('<'), end + 1);
    }
    if (copiedUpTo == 0)
        return text;
    result.append(QStringView(text).sliced(copiedUpTo));
    return result;
}

std::optional<char32_t> parseScalar(QStringView digits, int radix)
{
    quint64 value = 0;
    for (const QChar c : digits) {
        const int digit = c.isDigit() ? c.unicode() - '0'
            : (c.unicode() >= 'a' && c.unicode() <= 'f') ? c.unicode() - 'a' + 10
            : (c.unicode() >= 'A' && c.unicode() <= 'F') ? c.unicode() - 'A' + 10
                                                          : 99;
        if (digit >= radix)
            return std::nullopt;
        value = value * quint64(radix) + quint64(digit);
        if (value > 0xFFFFFFFFu)
            return std::nullopt; // does not fit an unsigned 32-bit number
    }
    return char32_t(value);
}

} // namespace

std::optional<QString> htmlToText(const QByteArray &bytes)
{
    auto decoded = decodeText(bytes, TextEncoding::utf8);
    if (!decoded)
        decoded = decodeText(bytes, TextEncoding::utf16);
    if (!decoded)
        return std::nullopt;
    QString text = removeHtmlTags(*decoded);
    text = decodeNumericEntities(text);
    static const std::array<std::pair<QString, QString>, 6> namedEntities = {{
        {QStringLiteral("&nbsp;"), QStringLiteral("\u00A0")},
        {QStringLiteral("&lt;"), QStringLiteral("<")},
        {QStringLiteral("&gt;"), QStringLiteral(">")},
        {QStringLiteral("&quot;"), QStringLiteral("\"")},
        {QStringLiteral("&apos;"), QStringLiteral("'")},
        {QStringLiteral("&amp;"), QStringLiteral("&")},
    }};
    for (const auto &[entity, character] : namedEntities)
        text.replace(entity, character, Qt::CaseSensitive);
    return text.trimmed();
}

QString removeHtmlTags(const QString &text)
{
    QString result = removeElements(withValidSurrogates(text), QStringLiteral(R"(<(script|style|head)\b[^>]*>.*?</\1>)"),
                                    QStringLiteral(R"(<(script|style|head)\b[^>]*>)"),
                                    QStringLiteral(R"(<(script|style|head)\b)"));
    result = replaceAll(result, QStringLiteral(R"(<br\s*/?>|</(p|div|li|tr|h[1-6]|blockquote|pre)>)"),
                        QStringLiteral("\n"));
    return removeTags(result);
}

QString decodeNumericEntities(const QString &text)
{
    const QRegularExpression expression(QStringLiteral("&#(x?)([0-9a-fA-F]+);"));
    if (!expression.isValid())
        return text;
    QString result;
    qsizetype copiedUpTo = 0;
    // The pattern is ASCII, so lone surrogates elsewhere cannot disturb it; but the engine
    // must not be handed them unchecked.
    const QString checked = withValidSurrogates(text);
    auto matches = expression.globalMatch(checked, 0, QRegularExpression::NormalMatch, searchOptions);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const auto scalar = parseScalar(match.capturedView(2), match.capturedLength(1) > 0 ? 16 : 10);
        if (!scalar || (*scalar >= 0xD800 && *scalar <= 0xDFFF) || *scalar >= 0x110000)
            continue; // left as written
        result.append(QStringView(text).sliced(copiedUpTo, match.capturedStart() - copiedUpTo));
        const char32_t character = *scalar;
        result.append(QString::fromUcs4(&character, 1));
        copiedUpTo = match.capturedEnd();
    }
    if (copiedUpTo == 0)
        return text;
    result.append(QStringView(text).sliced(copiedUpTo));
    return result;
}

} // namespace PastePayloadDecoder
