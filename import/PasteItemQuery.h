#pragma once

#include <QByteArray>
#include <QList>

// The one statement that streams Paste's items, newest first (by creation date, falling
// back to the timestamp, then 0; ties by the higher key). Missing side tables give NULL
// columns instead of joins.
struct PasteSchema {
    bool hasData = false; // ZITEMDATAENTITY: the pasteboard archives
    bool hasApps = false; // ZAPPLICATIONENTITY: source applications
    bool hasList = false; // ZLISTENTITY: lists, pinboards among them
};

// The result columns of pasteItemQuery, by index.
namespace PasteColumn {
enum : int {
    itemType, createdAt, timestamp, preview, title, pasteboardItems, bundleIdentifier, appName, listName, listType
};
}

QByteArray pasteItemQuery(const PasteSchema &schema);

// Indexes for the private copy that let the item query stream: rows come in index order
// instead of through a sort that first reads every row with its pasteboard blob, and each
// row's latest data row is found by key instead of by scanning the data table. They change
// the plan, never the result; a database that cannot take them is read without.
QList<QByteArray> streamingIndexes(const PasteSchema &schema);
QByteArray tableExistsQuery(const char *table);
