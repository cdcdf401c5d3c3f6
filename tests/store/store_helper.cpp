// A second process for the store tests: writes the same store file while a test holds it
// open, holds locks on it, or saves in a loop until it is killed.
//   store_helper write <path> <count> <author>   one save of <count> text items
//   store_helper delete-raw <path>                deletes every item with plain SQL, unrecorded
//   store_helper lock <path>                      holds an exclusive lock until stdin closes
//   store_helper loop <path>                      saves batches forever, printing "committed N"

#include "StoreRows.h"

#include "store/ClipItem.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"
#include "store/sql/SqlConnection.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "store_helper: %s\n", message.toUtf8().constData());
    return 2;
}

int writeItems(const QString &path, int count, const QString &author)
{
    StoreContainer container(QStringLiteral("Kestrelnote"));
    container.storeDescription().path = path;
    if (auto loaded = container.loadPersistentStore(); !loaded)
        return fail(loaded.error().localizedDescription());
    StoreContext *context = container.viewContext();
    context->setTransactionAuthor(author);
    context->setName(author);
    for (int i = 0; i < count; ++i) {
        auto item = context->insert<ClipItem>();
        item->setPlainText(QStringLiteral("%1 item %2").arg(author).arg(i));
        item->setCreatedAt(QDateTime::currentDateTimeUtc().addSecs(3600));
    }
    if (auto saved = context->save(); !saved)
        return fail(saved.error().localizedDescription());
    std::printf("done\n");
    return 0;
}

int deleteRaw(const QString &path)
{
    auto connection = sql::Connection::open(path, {});
    if (!connection)
        return fail(connection.error().localizedDescription());
    if (auto done = (*connection)->exec(QStringLiteral("DELETE FROM ClipItem")); !done)
        return fail(done.error().localizedDescription());
    std::printf("done\n");
    return 0;
}

int holdLock(const QString &path)
{
    auto connection = sql::Connection::open(path, {});
    if (!connection)
        return fail(connection.error().localizedDescription());
    if (auto locked = (*connection)->exec(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                                                         "SELECT count(*) FROM sqlite_schema"));
        !locked)
        return fail(locked.error().localizedDescription());
    std::printf("locked\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) { }
    return 0;
}

int saveForever(const QString &path)
{
    StoreContainer container(QStringLiteral("Kestrelnote"));
    container.storeDescription().path = path;
    if (auto loaded = container.loadPersistentStore(); !loaded)
        return fail(loaded.error().localizedDescription());
    StoreContext *context = container.viewContext();
    for (int transaction = 0;; ++transaction) {
        for (int i = 0; i < storerows::rowsPerTransaction; ++i)
            storerows::fill(*context->insert<ClipItem>(), transaction, i);
        if (auto saved = context->save(); !saved)
            return fail(saved.error().localizedDescription());
        context->refreshAll();
        std::printf("committed %d\n", transaction + 1);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 3)
        return fail(QStringLiteral("usage: store_helper write|delete-raw|lock|loop <path> ..."));
    const QString command = arguments[1];
    const QString path = arguments[2];
    if (command == QLatin1String("write") && arguments.size() == 5)
        return writeItems(path, arguments[3].toInt(), arguments[4]);
    if (command == QLatin1String("delete-raw"))
        return deleteRaw(path);
    if (command == QLatin1String("lock"))
        return holdLock(path);
    if (command == QLatin1String("loop"))
        return saveForever(path);
    return fail(QStringLiteral("unknown command ") + command);
}
