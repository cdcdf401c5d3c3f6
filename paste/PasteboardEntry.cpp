#include "paste/PasteboardEntry.h"

#include "paste/PlainTextCleaning.h"
#include "platform/pasteboard/Pasteboard.h"
#include "store/ClipItem.h"

QString pasteStyleName(PasteStyle style)
{
    return style == PasteStyle::Rich ? QStringLiteral("rich") : QStringLiteral("plainText");
}

QList<PasteboardEntry> pasteboardEntries(const ClipItem &item, PasteStyle style)
{
    const QString text = item.plainText().value_or(QString());
    switch (item.kind()) {
    case ClipKind::Text:
        if (style == PasteStyle::PlainText)
            return {{PasteboardType::string, cleanPlainText(text)}};
        if (const auto rtf = item.rtfData())
            return {{PasteboardType::rtf, *rtf}, {PasteboardType::string, text}};
        return {{PasteboardType::string, text}};
    case ClipKind::Image:
        if (const auto png = item.imageData())
            return {{PasteboardType::png, *png}};
        return {};
    case ClipKind::File:
        return {{PasteboardType::string, text}};
    }
    return {};
}
