#pragma once

#include <QRegularExpression>
#include <QString>

// htmlToText's three replacements done the plain way, one QString::replace per pattern.
// Slow on hostile markup, but obviously right: the decoder's faster search must agree.
inline QString htmlTagsRemovedPlainly(const QString &text)
{
    const auto options = QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption
        | QRegularExpression::UseUnicodePropertiesOption;
    QString result = text;
    result.replace(QRegularExpression(QStringLiteral(R"(<(script|style|head)\b[^>]*>.*?</\1>)"), options), QString());
    result.replace(QRegularExpression(QStringLiteral(R"(<br\s*/?>|</(p|div|li|tr|h[1-6]|blockquote|pre)>)"), options),
                   QStringLiteral("\n"));
    result.replace(QRegularExpression(QStringLiteral(R"(<(?:[^>"']|"[^"]*"|'[^']*')*>)"), options), QString());
    return result;
}
