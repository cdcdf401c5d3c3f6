#include "store/ClipItem.h"

#include "store/StorageValues.h"

namespace {

template<typename T>
std::optional<T> optionalValue(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return value.value<T>();
}

template<typename T>
QVariant variantOf(const std::optional<T> &value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

} // namespace

std::optional<QUuid> ClipItem::id() const { return optionalValue<QUuid>(value(Id)); }
void ClipItem::setId(const std::optional<QUuid> &id) { setValue(Id, variantOf(id)); }
std::optional<QDateTime> ClipItem::createdAt() const { return dateOf(value(CreatedAt)); }
void ClipItem::setCreatedAt(const std::optional<QDateTime> &createdAt) { setValue(CreatedAt, variantOf(createdAt)); }
std::optional<QString> ClipItem::storedKind() const { return optionalValue<QString>(value(Kind)); }
void ClipItem::setStoredKind(const std::optional<QString> &kind) { setValue(Kind, variantOf(kind)); }
std::optional<QString> ClipItem::plainText() const { return optionalValue<QString>(value(PlainText)); }
void ClipItem::setPlainText(const std::optional<QString> &text) { setValue(PlainText, variantOf(text)); }
std::optional<QByteArray> ClipItem::rtfData() const { return optionalValue<QByteArray>(value(RtfData)); }
void ClipItem::setRtfData(const std::optional<QByteArray> &data) { setValue(RtfData, variantOf(data)); }
std::optional<QByteArray> ClipItem::imageData() const { return optionalValue<QByteArray>(value(ImageData)); }
void ClipItem::setImageData(const std::optional<QByteArray> &data) { setValue(ImageData, variantOf(data)); }
std::optional<QString> ClipItem::fileName() const { return optionalValue<QString>(value(FileName)); }
void ClipItem::setFileName(const std::optional<QString> &names) { setValue(FileName, variantOf(names)); }
std::optional<QString> ClipItem::sourceAppName() const { return optionalValue<QString>(value(SourceAppName)); }
void ClipItem::setSourceAppName(const std::optional<QString> &name) { setValue(SourceAppName, variantOf(name)); }
std::optional<QString> ClipItem::sourceBundleID() const { return optionalValue<QString>(value(SourceBundleID)); }
void ClipItem::setSourceBundleID(const std::optional<QString> &bundleId) { setValue(SourceBundleID, variantOf(bundleId)); }
qint64 ClipItem::contentHash() const { return value(ContentHash).toLongLong(); }
void ClipItem::setContentHash(qint64 hash) { setValue(ContentHash, hash); }
// A text another program wrote there is not true, as the Pinned filter agrees.
bool ClipItem::isPinned() const
{
    const QVariant pinned = value(IsPinned);
    return pinned.typeId() == QMetaType::Bool && pinned.toBool();
}
void ClipItem::setPinned(bool pinned) { setValue(IsPinned, pinned); }
std::optional<QString> ClipItem::labelID() const { return optionalValue<QString>(value(LabelID)); }
void ClipItem::setLabelID(const std::optional<QString> &labelId) { setValue(LabelID, variantOf(labelId)); }
std::optional<QString> ClipItem::title() const { return optionalValue<QString>(value(Title)); }
void ClipItem::setTitle(const std::optional<QString> &title) { setValue(Title, variantOf(title)); }

bool sameContent(const ClipItem &a, const ClipItem &b)
{
    // std::optional compares absent == absent, absent != present, values by value.
    return a.storedKind() == b.storedKind() && a.plainText() == b.plainText()
        && a.fileName() == b.fileName() && a.imageData() == b.imageData();
}

std::optional<QString> cardTitle(const ClipItem &item)
{
    const std::optional<QString> title = item.title();
    if (!title)
        return std::nullopt;
    QString trimmed = title->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}
