#pragma once

#include "store/ClipItem.h"
#include "store/ClipLabel.h"

#include <QJsonObject>

// Every stored attribute of an item, for scripts: absent values are null, dates ISO 8601
// in UTC, binary attributes as their byte count and SHA-256.
QJsonObject itemToJson(const ClipItem &item);
QJsonObject labelToJson(const ClipLabel &label);

// The canonical text of an item's or label's id (upper case, as labelID stores it).
QString idText(const std::optional<QUuid> &id);
QString isoDate(const std::optional<QDateTime> &date);
