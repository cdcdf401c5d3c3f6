#pragma once

// A real store in a temporary folder, with settings of its own, for capture tests.
#include "platform/defaults/UserDefaults.h"
#include "store/ClipItem.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <atomic>
#include <memory>

class StoreFixture
{
public:
    StoreFixture()
        : defaults(dir.filePath(QStringLiteral("kestrelnote.conf")))
    {
        defaults.registerApplicationDefaults();
        open();
    }

    QString storePath() const { return dir.filePath(QStringLiteral("Kestrelnote.sqlite")); }

    void open()
    {
        container = std::make_unique<StoreContainer>(QStringLiteral("Kestrelnote"));
        container->storeDescription().path = storePath();
        const auto loaded = container->loadPersistentStore();
        QVERIFY2(loaded.ok(), qPrintable(loaded ? QString() : loaded.error().localizedDescription()));
    }

    StoreContext &view() const { return *container->viewContext(); }

    // Every item, newest first, as the view context sees the saved store.
    QList<ClipItemPtr> items() const
    {
        FetchRequest request = FetchRequest::of<ClipItem>();
        request.setSortDescriptors({{QStringLiteral("createdAt"), false}});
        auto fetched = view().fetch<ClipItem>(request);
        return fetched ? *fetched : QList<ClipItemPtr>();
    }

    QStringList texts() const
    {
        QStringList result;
        for (const ClipItemPtr &item : items())
            result.append(item->plainText().value_or(QStringLiteral("<none>")));
        return result;
    }

    // Runs SQL straight on the file, as another program would (faults, odd data).
    void execSql(const char *sql) const
    {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(storePath().toUtf8().constData(), &db), SQLITE_OK);
        char *error = nullptr;
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
        const QString message = error ? QString::fromUtf8(error) : QString();
        sqlite3_free(error);
        sqlite3_close(db);
        QVERIFY2(rc == SQLITE_OK, qPrintable(message));
    }

    QTemporaryDir dir;
    UserDefaults defaults;
    std::unique_ptr<StoreContainer> container;
};

// Waits, processing main-thread events, until the flag is set.
inline bool waitFor(const std::atomic<bool> &flag, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] { return flag.load(); }, timeoutMs);
}

// Starts work that reports its end through a completion callback, and waits for that.
template <typename Start>
bool completes(Start start, int timeoutMs = 20000)
{
    std::atomic<bool> done = false;
    start([&] { done = true; });
    return waitFor(done, timeoutMs);
}

// Waits until the context's queue has run everything scheduled on it before.
inline bool drained(StoreContext &context)
{
    return completes([&](auto done) { context.perform(done); });
}
