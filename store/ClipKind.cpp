#include "store/ClipKind.h"

ClipKind clipKindFromStored(const std::optional<QString> &stored)
{
    if (stored == QLatin1String("image"))
        return ClipKind::Image;
    if (stored == QLatin1String("file"))
        return ClipKind::File;
    return ClipKind::Text;
}

QString storedName(ClipKind kind)
{
    switch (kind) {
    case ClipKind::Text: return QStringLiteral("text");
    case ClipKind::Image: return QStringLiteral("image");
    case ClipKind::File: return QStringLiteral("file");
    }
    return QStringLiteral("text");
}
