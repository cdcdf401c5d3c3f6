#include "paste/PlainTextCleaning.h"

namespace {

bool isInvisible(char32_t c)
{
    return c == 0x200B || c == 0xFEFF || c == 0x00AD || c == 0x2060;
}

bool isLineOrParagraphSeparator(QChar::Category category)
{
    return category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
}

} // namespace

QString cleanPlainText(const QString &text)
{
    QString result;
    result.reserve(text.size());
    bool atLineStart = true;
    bool dropBlank = false;

    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        qsizetype units = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            units = 2;
        }
        const QChar::Category category = QChar::category(c);
        i += units - 1;

        if (category == QChar::Other_PrivateUse || isInvisible(c)) {
            dropBlank = dropBlank || atLineStart;
            continue;
        }
        if (dropBlank) {
            dropBlank = false;
            if (c == U' ' || c == U'\t')
                continue;
        }
        if (category == QChar::Separator_Space)
            result.append(QLatin1Char(' '));
        else if (isLineOrParagraphSeparator(category))
            result.append(QLatin1Char('\n'));
        else
            result.append(text.mid(i - (units - 1), units));
        atLineStart = c == U'\n' || c == U'\r' || isLineOrParagraphSeparator(category);
    }
    return result;
}
