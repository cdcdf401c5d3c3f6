#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// The plain text of an RTF document, as applications put it on a clipboard: groups,
// control words and symbols, ignorable destinations (\* and the header tables), \par and
// \line as line feeds, \tab, \uN with \ucN skipping, \'hh in the document's or the font's
// code page, \binN. Formatting is dropped. Unbalanced braces are tolerated.
namespace rtf {

// Groups nested deeper than this make the document unreadable rather than costly.
inline constexpr int defaultMaxDepth = 256;

// None when the bytes do not start an RTF document ("{\rtf") or nest too deeply.
std::optional<QString> plainText(QByteArrayView document, int maxDepth);

} // namespace rtf
