#pragma once

#include "store/ObjectId.h"
#include "store/StoreObject.h"

#include <QList>
#include <QMetaType>
#include <QString>

// Which objects a save or a merge inserted, updated and deleted, as identifiers: safe to
// pass to any thread.
struct ObjectChanges {
    QList<ObjectId> inserted;
    QList<ObjectId> updated;
    QList<ObjectId> deleted;
    // The store changed in a way that was not recorded (an unknown writer, or history
    // that was trimmed before it was read): anything may have changed.
    bool everythingMayHaveChanged = false;
    // The store's change count (store_counter) before and after, when the changes are one
    // unbroken run of saves; -1 when that is not known (and after append).
    qint64 changeCountBefore = -1;
    qint64 changeCountAfter = -1;

    bool isEmpty() const
    {
        return inserted.isEmpty() && updated.isEmpty() && deleted.isEmpty() && !everythingMayHaveChanged;
    }
    void append(const ObjectChanges &other)
    {
        changeCountBefore = changeCountAfter = -1;
        inserted += other.inserted;
        updated += other.updated;
        deleted += other.deleted;
        everythingMayHaveChanged = everythingMayHaveChanged || other.everythingMayHaveChanged;
    }
};

// What one save of a context wrote. The objects belong to the saving context and may
// only be touched on its queue (a direct connection to didSave runs there); use `changes`
// anywhere else. Deleted objects keep the values they had when they were deleted.
struct SaveNotification {
    QString contextName;
    QString transactionAuthor;
    QList<StoreObjectPtr> inserted;
    QList<StoreObjectPtr> updated;
    QList<StoreObjectPtr> deleted;
    ObjectChanges changes;
};

// The store file was changed by another process.
struct RemoteChange {
    ObjectChanges changes;
    // The authors of the foreign transactions, when known.
    QStringList authors;
};

Q_DECLARE_METATYPE(ObjectChanges)
Q_DECLARE_METATYPE(SaveNotification)
Q_DECLARE_METATYPE(RemoteChange)
