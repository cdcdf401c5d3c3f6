#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <variant>

class ClipItem;

// How an item is pasted: as it was copied, or as cleaned plain text.
enum class PasteStyle { Rich, PlainText };

// "rich" or "plainText", as log lines name the styles.
QString pasteStyleName(PasteStyle style);

// One type written to the clipboard: bytes or a text.
struct PasteboardEntry {
    using Value = std::variant<QByteArray, QString>;

    QString type;
    Value value;

    bool operator==(const PasteboardEntry &) const = default;
};

// What pasting the item writes, in order: a text's RTF then its string (or only the
// cleaned string as plain text); an image's PNG; a file item's paths as text.
QList<PasteboardEntry> pasteboardEntries(const ClipItem &item, PasteStyle style);
