#pragma once

#include "store/ClipKind.h"
#include "store/StoreObject.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

// One copied thing: a text (with its RTF), an image, or a set of files. A fresh item reads
// kind "text", contentHash 0, not pinned, and every other attribute absent.
// Like every StoreObject it belongs to one context and is used only on that context's queue.
class ClipItem : public StoreObject
{
public:
    static constexpr int entityIndex = EntityIndex::ClipItem;
    static QString entityName() { return QStringLiteral("ClipItem"); }

    // Attribute indexes, in declaration order.
    enum Attribute {
        Id, CreatedAt, Kind, PlainText, RtfData, ImageData, FileName, SourceAppName,
        SourceBundleID, ContentHash, IsPinned, LabelID, Title
    };

    ClipItem() : StoreObject(entityIndex) { }

    std::optional<QUuid> id() const;
    void setId(const std::optional<QUuid> &id);
    std::optional<QDateTime> createdAt() const;
    void setCreatedAt(const std::optional<QDateTime> &createdAt);
    // The kind with the reading rule applied: anything but "image" or "file" is a text.
    ClipKind kind() const { return clipKindFromStored(storedKind()); }
    void setKind(ClipKind kind) { setStoredKind(storedName(kind)); }
    // The stored text of kind, exactly as it is.
    std::optional<QString> storedKind() const;
    void setStoredKind(const std::optional<QString> &kind);
    std::optional<QString> plainText() const;
    void setPlainText(const std::optional<QString> &text);
    std::optional<QByteArray> rtfData() const;
    void setRtfData(const std::optional<QByteArray> &data);
    std::optional<QByteArray> imageData() const;
    void setImageData(const std::optional<QByteArray> &data);
    std::optional<QString> fileName() const;
    void setFileName(const std::optional<QString> &names);
    std::optional<QString> sourceAppName() const;
    void setSourceAppName(const std::optional<QString> &name);
    std::optional<QString> sourceBundleID() const;
    void setSourceBundleID(const std::optional<QString> &bundleId);
    qint64 contentHash() const;
    void setContentHash(qint64 hash);
    bool isPinned() const;
    void setPinned(bool pinned);
    // The label's id as an upper-case UUID string.
    std::optional<QString> labelID() const;
    void setLabelID(const std::optional<QString> &labelId);
    std::optional<QString> title() const;
    void setTitle(const std::optional<QString> &title);
};

using ClipItemPtr = std::shared_ptr<ClipItem>;

// True when kind, plainText, imageData and fileName are each equal (two absent values are
// equal; an absent value never equals a present one). Titles, pins, labels, sources,
// dates and RTF are not compared.
bool sameContent(const ClipItem &a, const ClipItem &b);

// The title without surrounding white space and line breaks; none when absent or empty.
std::optional<QString> cardTitle(const ClipItem &item);
