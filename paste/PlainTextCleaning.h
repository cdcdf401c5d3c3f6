#pragma once

#include <QString>

// Text for pasting as plain text: private-use glyphs (icon fonts) and invisible characters
// (zero width space, BOM, soft hyphen, word joiner) are removed, and where they stood at the
// start of a line the one space or tab after them goes too. Wide and non-breaking spaces
// become plain spaces, line and paragraph separators become line feeds.
QString cleanPlainText(const QString &text);
