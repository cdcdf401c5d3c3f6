#include "platform/x11/ClipboardTargets.h"

#include "platform/pasteboard/Pasteboard.h"

namespace ClipboardTargets {

namespace {
const QByteArray utf8String = QByteArrayLiteral("UTF8_STRING");
const QByteArray latin1String = QByteArrayLiteral("STRING");

bool isTextType(const QString &type)
{
    return type == PasteboardType::string || type == PasteboardType::plainText;
}
} // namespace

bool isProtocolTarget(const QByteArray &target)
{
    if (target.isEmpty())
        return true;
    for (const char c : target) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    }
    return true;
}

QStringList typesForTargets(const QList<QByteArray> &targets)
{
    QStringList types;
    auto add = [&types](const QString &type) {
        if (!types.contains(type))
            types.append(type);
    };
    for (const QByteArray &target : targets) {
        if (target == utf8String)
            add(PasteboardType::string);
        else if (target == latin1String)
            add(PasteboardType::plainText);
        else if (!isProtocolTarget(target))
            add(QString::fromUtf8(target));
    }
    return types;
}

QByteArray targetForType(const QString &type, const QList<QByteArray> &offered)
{
    QList<QByteArray> candidates{type.toUtf8()};
    if (isTextType(type)) {
        candidates = {PasteboardType::string.toUtf8(), utf8String,
                      PasteboardType::plainText.toUtf8(), latin1String};
        if (type == PasteboardType::plainText)
            candidates.swapItemsAt(0, 2);
    }
    for (const QByteArray &candidate : candidates) {
        if (offered.contains(candidate))
            return candidate;
    }
    return {};
}

QByteArray toTypeEncoding(const QByteArray &bytes, const QByteArray &target)
{
    if (target == latin1String)
        return QString::fromLatin1(bytes).toUtf8();
    return bytes;
}

} // namespace ClipboardTargets
