#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

#include "platform/frontapp/FrontApplication.h"

class Pasteboard;

// What one accepted clipboard change yields: the content and the application in front.
struct ClipboardPayload {
    // A text, never blank; kept exactly as read, with the RTF offered beside it.
    struct Text {
        QString text;
        std::optional<QByteArray> rtfData;
        bool operator==(const Text &) const = default;
    };
    // Image bytes exactly as read (TIFF, PNG, or another decodable format).
    struct Image {
        QByteArray bytes;
        bool operator==(const Image &) const = default;
    };
    // names: the last path components joined with ", "; paths: the paths joined with "\n".
    struct File {
        QString names;
        QString paths;
        bool operator==(const File &) const = default;
    };
    using Content = std::variant<Text, Image, File>;

    Content content;
    std::optional<QString> sourceAppName;
    std::optional<QString> sourceBundleID;

    bool operator==(const ClipboardPayload &) const = default;
};

// A change carrying any of these types is not captured at all.
extern const QStringList skipMarkerTypes;
// Marks contents from another device: captured, but without a source application.
extern const QString remoteClipboardType;
// Front applications that mean the screen is locked: captured without a source.
extern const QStringList lockScreenBundleIDs;
// Password managers on Linux offer this type with the data "secret".
extern const QString passwordManagerHintType;

// Reads the clipboard at this moment into a payload, or none when the change carries a
// marker or nothing usable.
std::optional<ClipboardPayload> makePayload(const Pasteboard &pasteboard,
                                            const std::optional<FrontApplication> &front);
std::optional<ClipboardPayload::Content> readContent(const Pasteboard &pasteboard);
