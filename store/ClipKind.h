#pragma once

#include <QString>

#include <optional>

// What a history item holds. Stored as the text "text", "image" or "file".
enum class ClipKind { Text, Image, File };

// The stored value compared exactly; a missing value or any other text is a text item.
ClipKind clipKindFromStored(const std::optional<QString> &stored);
QString storedName(ClipKind kind);
