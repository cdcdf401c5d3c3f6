#include "import/codecs/RtfReader.h"

#include "import/codecs/TextEncodings.h"

#include <QHash>

#include <algorithm>
#include <limits>
#include <string_view>
#include <vector>

namespace rtf {

namespace {

// Header tables and other groups whose text is not part of the document.
constexpr std::string_view skippedDestinations[] = {
    "annotation", "atnauthor", "atndate", "atnid", "author", "bkmkend", "bkmkstart",
    "colorschememapping", "colortbl", "comment", "datastore", "doccomm", "falt", "filetbl",
    "fldinst", "footer", "footerf", "footerl", "footerr", "footnote", "generator", "header",
    "headerf", "headerl", "headerr", "info", "keywords", "latentstyles", "listoverridetable",
    "listtable", "nonshppict", "object", "operator", "pgdsctbl", "pict", "private",
    "revtbl", "rsidtbl", "stylesheet", "subject", "themedata", "title", "xmlnstbl",
};

// Windows character sets of \fcharsetN and the code pages they stand for.
int codePageForCharset(int charset, int documentCodePage)
{
    switch (charset) {
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 254: return 437;
    case 255: return 850;
    default: return documentCodePage;
    }
}

struct GroupState {
    bool skipped = false;  // inside a destination whose text is dropped
    bool fontTable = false;
    int unicodeSkip = 1;   // characters that stand in for each \uN
    int codePage = 0;      // 0: the document's
};

class Reader
{
public:
    Reader(QByteArrayView document, int maxDepth) : m_in(document), m_maxDepth(maxDepth) {}

    std::optional<QString> read();

private:
    void controlWord(std::string_view word, std::optional<int> parameter);
    void controlSymbol(char symbol);
    void text(QChar c);
    void byteInCodePage(char byte);
    void flushBytes();
    int effectiveCodePage() const;
    GroupState &state() { return m_groups.back(); }

    QByteArrayView m_in;
    qsizetype m_at = 0;
    int m_maxDepth;
    std::vector<GroupState> m_groups;
    QString m_out;
    QByteArray m_pendingBytes;
    int m_pendingCodePage = 0;
    int m_documentCodePage = 1252;
    int m_defaultFont = -1;
    int m_fontBeingDefined = -1;
    int m_charsToSkip = 0; // after \uN, its stand-in characters
    QHash<int, int> m_fontCodePages;
    CodePageDecoders m_decoders;
};

std::optional<QString> Reader::read()
{
    qsizetype start = 0;
    while (start < m_in.size() && (m_in[start] == ' ' || m_in[start] == '\r' || m_in[start] == '\n' || m_in[start] == '\t'))
        ++start;
    if (!m_in.sliced(start).startsWith("{\\rtf"))
        return std::nullopt;
    m_groups.push_back(GroupState{});
    m_at = start;
    while (m_at < m_in.size()) {
        const char c = m_in[m_at++];
        switch (c) {
        case '{':
            flushBytes();
            m_charsToSkip = 0;
            if (int(m_groups.size()) > m_maxDepth)
                return std::nullopt;
            m_groups.push_back(m_groups.back());
            break;
        case '}':
            flushBytes();
            m_charsToSkip = 0;
            if (m_groups.size() > 1) // an extra closing brace is ignored
                m_groups.pop_back();
            break;
        case '\\': {
            if (m_at >= m_in.size())
                break;
            const char next = m_in[m_at];
            if ((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z')) {
                const qsizetype wordStart = m_at;
                while (m_at < m_in.size() && m_at - wordStart < 32
                       && ((m_in[m_at] >= 'a' && m_in[m_at] <= 'z') || (m_in[m_at] >= 'A' && m_in[m_at] <= 'Z')))
                    ++m_at;
                const std::string_view word(m_in.data() + wordStart, size_t(m_at - wordStart));
                std::optional<int> parameter;
                bool negative = false;
                if (m_at < m_in.size() && m_in[m_at] == '-' && m_at + 1 < m_in.size()
                    && m_in[m_at + 1] >= '0' && m_in[m_at + 1] <= '9') {
                    negative = true;
                    ++m_at;
                }
                if (m_at < m_in.size() && m_in[m_at] >= '0' && m_in[m_at] <= '9') {
                    qint64 value = 0;
                    int digits = 0;
                    while (m_at < m_in.size() && m_in[m_at] >= '0' && m_in[m_at] <= '9') {
                        if (digits++ < 10)
                            value = value * 10 + (m_in[m_at] - '0');
                        ++m_at;
                    }
                    value = std::min<qint64>(value, std::numeric_limits<int>::max());
                    parameter = int(negative ? -value : value);
                }
                if (m_at < m_in.size() && m_in[m_at] == ' ')
                    ++m_at; // the delimiting space belongs to the control word
                controlWord(word, parameter);
            } else {
                ++m_at;
                controlSymbol(next);
            }
            break;
        }
        case '\r':
        case '\n':
            break;
        default:
            if (quint8(c) >= 0x80)
                byteInCodePage(c);
            else if (c != '\0')
                text(QLatin1Char(c));
            break;
        }
    }
    flushBytes();
    return m_out;
}

void Reader::controlWord(std::string_view word, std::optional<int> parameter)
{
    if (word != "bin")
        flushBytes();
    if (m_charsToSkip > 0 && word != "bin") {
        --m_charsToSkip;
        return;
    }
    GroupState &group = state();
    const int value = parameter.value_or(0);

    if (word == "bin") {
        // Binary data follows; it never counts as text.
        m_at += std::min<qsizetype>(std::max(value, 0), m_in.size() - m_at);
        return;
    }
    if (word == "uc") {
        group.unicodeSkip = std::clamp(value, 0, 16);
        return;
    }
    if (word == "ansicpg" && parameter) {
        m_documentCodePage = value;
        return;
    }
    if (word == "mac") {
        m_documentCodePage = 10000;
        return;
    }
    if (word == "pc") {
        m_documentCodePage = 437;
        return;
    }
    if (word == "pca") {
        m_documentCodePage = 850;
        return;
    }
    if (word == "deff") {
        m_defaultFont = value;
        return;
    }
    if (word == "fonttbl") {
        group.fontTable = true;
        group.skipped = true;
        return;
    }
    if (group.fontTable) {
        if (word == "f")
            m_fontBeingDefined = value;
        else if (word == "fcharset" && m_fontBeingDefined >= 0 && !m_fontCodePages.contains(m_fontBeingDefined))
            m_fontCodePages.insert(m_fontBeingDefined, codePageForCharset(value, 0));
        else if (word == "cpg" && m_fontBeingDefined >= 0)
            m_fontCodePages.insert(m_fontBeingDefined, value);
        return;
    }
    for (const std::string_view skipped : skippedDestinations) {
        if (word == skipped) {
            group.skipped = true;
            return;
        }
    }
    if (word == "f") {
        group.codePage = m_fontCodePages.value(value, 0);
        return;
    }
    if (word == "plain") {
        group.codePage = m_fontCodePages.value(m_defaultFont, 0);
        return;
    }
    if (word == "u") {
        // A signed 16-bit value; negative numbers stand for code units above 0x7FFF.
        text(QChar(char16_t(value < 0 ? value + 65536 : value)));
        m_charsToSkip = group.unicodeSkip;
        return;
    }
    if (group.skipped)
        return;

    static const QHash<QByteArray, QChar> characters = {
        {"par", u'\n'},       {"line", u'\n'},      {"cell", u'\n'},       {"nestcell", u'\n'},
        {"tab", u'\t'},       {"emdash", u'\u2014'}, {"endash", u'\u2013'}, {"bullet", u'\u2022'},
        {"lquote", u'\u2018'}, {"rquote", u'\u2019'}, {"ldblquote", u'\u201C'},
        {"rdblquote", u'\u201D'}, {"emspace", u'\u2003'}, {"enspace", u'\u2002'},
        {"qmspace", u'\u2005'}, {"zwj", u'\u200D'}, {"zwnj", u'\u200C'},
        {"ltrmark", u'\u200E'}, {"rtlmark", u'\u200F'},
    };
    const auto found = characters.constFind(QByteArray(word.data(), qsizetype(word.size())));
    if (found != characters.constEnd())
        m_out.append(*found);
}

void Reader::controlSymbol(char symbol)
{
    if (symbol == '\'') {
        // \'hh: one byte in the current code page.
        const auto hex = [](char h) -> int {
            if (h >= '0' && h <= '9') return h - '0';
            if (h >= 'a' && h <= 'f') return h - 'a' + 10;
            if (h >= 'A' && h <= 'F') return h - 'A' + 10;
            return -1;
        };
        if (m_in.size() - m_at < 2)
            return;
        const int high = hex(m_in[m_at]);
        const int low = hex(m_in[m_at + 1]);
        if (high < 0 || low < 0)
            return;
        m_at += 2;
        byteInCodePage(char(high << 4 | low));
        return;
    }
    flushBytes();
    if (symbol == '*') {
        state().skipped = true;
        return;
    }
    if (m_charsToSkip > 0) {
        --m_charsToSkip;
        return;
    }
    switch (symbol) {
    case '\\':
    case '{':
    case '}':
        text(QLatin1Char(symbol));
        break;
    case '~':
        text(QChar(u'\u00A0'));
        break;
    case '_':
        text(QChar(u'\u2011'));
        break;
    case '\r':
    case '\n':
        text(QLatin1Char('\n')); // a backslash before a line break is \par
        break;
    default:
        break; // \- optional hyphen, \| \: and unknown symbols carry no text
    }
}

void Reader::text(QChar c)
{
    flushBytes();
    if (m_charsToSkip > 0) {
        --m_charsToSkip;
        return;
    }
    if (!state().skipped)
        m_out.append(c);
}

int Reader::effectiveCodePage() const
{
    const int codePage = m_groups.back().codePage;
    return codePage != 0 ? codePage : m_documentCodePage;
}

void Reader::byteInCodePage(char byte)
{
    if (m_charsToSkip > 0) {
        flushBytes();
        --m_charsToSkip;
        return;
    }
    if (state().skipped)
        return;
    const int codePage = effectiveCodePage();
    if (!m_pendingBytes.isEmpty() && codePage != m_pendingCodePage)
        flushBytes();
    // Bytes are gathered so that two-byte characters of Asian code pages stay together.
    m_pendingBytes.append(byte);
    m_pendingCodePage = codePage;
}

void Reader::flushBytes()
{
    if (m_pendingBytes.isEmpty())
        return;
    const auto decoded = m_decoders.decode(m_pendingBytes, m_pendingCodePage);
    m_out.append(decoded ? *decoded : QString::fromLatin1(m_pendingBytes));
    m_pendingBytes.clear();
}

} // namespace

std::optional<QString> plainText(QByteArrayView document, int maxDepth)
{
    return Reader(document, maxDepth).read();
}

} // namespace rtf
