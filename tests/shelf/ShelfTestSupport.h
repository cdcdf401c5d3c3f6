#pragma once

#include "tests/store/StoreTestSupport.h"

#include <QStringList>

#include <initializer_list>

// Shelf tests name their items in sourceBundleID, which no search looks at.
inline QStringList names(const QList<ClipItemPtr> &items)
{
    QStringList result;
    for (const auto &item : items)
        result.append(item->sourceBundleID().value_or(QString()));
    return result;
}

inline QStringList list(std::initializer_list<const char *> names)
{
    QStringList result;
    for (const char *name : names)
        result.append(QString::fromUtf8(name));
    return result;
}
