#pragma once

#include "store/ClipItem.h"
#include "store/ClipLabel.h"
#include "store/FetchedResultsModel.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A store in a fresh temporary folder, opened and ready.
struct TestStore {
    QTemporaryDir dir;
    std::unique_ptr<StoreContainer> container;

    explicit TestStore(const QString &fileName = QStringLiteral("Kestrelnote.sqlite"))
    {
        open(fileName);
    }

    QString path(const QString &fileName = QStringLiteral("Kestrelnote.sqlite")) const
    {
        return dir.filePath(fileName);
    }

    bool open(const QString &fileName = QStringLiteral("Kestrelnote.sqlite"))
    {
        container = std::make_unique<StoreContainer>(QStringLiteral("Kestrelnote"));
        container->storeDescription().path = path(fileName);
        container->viewContext()->setAutomaticallyMergesChanges(true);
        return container->loadPersistentStore().ok();
    }

    void reopen()
    {
        container.reset();
        open();
    }

    StoreContext *view() const { return container->viewContext(); }
};

// Two containers on one file, as the application and the command line are: the first merges
// its contexts' saves and looks for the other's writes every few milliseconds.
struct TwoProcessStores {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
    StoreContainer container{QStringLiteral("Kestrelnote")};
    StoreContainer other{QStringLiteral("Kestrelnote")};

    // Options of the first container can be changed before this.
    bool load()
    {
        container.storeDescription().path = path;
        container.storeDescription().remoteChangePollIntervalMs = 5;
        container.viewContext()->setAutomaticallyMergesChanges(true);
        other.storeDescription().path = path;
        return container.loadPersistentStore().ok() && other.loadPersistentStore().ok();
    }
};

// Inserts a text item on the context and returns it (unsaved).
inline ClipItemPtr insertText(StoreContext *context, const QString &text, qint64 hash = 0)
{
    auto item = context->insert<ClipItem>();
    item->setKind(ClipKind::Text);
    item->setPlainText(text);
    item->setContentHash(hash);
    item->setId(QUuid::createUuid());
    item->setCreatedAt(QDateTime::currentDateTimeUtc());
    return item;
}

// The plain texts of a fetch, in order.
inline QStringList textsOf(const QList<ClipItemPtr> &items)
{
    QStringList texts;
    for (const auto &item : items)
        texts.append(item->plainText().value_or(QStringLiteral("<none>")));
    return texts;
}

inline FetchRequest itemsNewestFirst()
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setSortDescriptors({{QStringLiteral("createdAt"), false}});
    return request;
}

// What a fresh run of the request returns from the saved store, for comparing live results with.
inline QList<ObjectId> freshRun(StoreContext *context, const FetchRequest &request)
{
    FetchRequest saved = request;
    saved.setIncludesPendingChanges(false);
    QList<ObjectId> ids;
    for (const auto &object : *context->fetch(saved))
        ids.append(object->objectId());
    return ids;
}

// The rows of a live result, in order.
inline QList<ObjectId> listed(const FetchedResultsModel &model)
{
    QList<ObjectId> ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids.append(model.objectIdAt(row));
    return ids;
}
