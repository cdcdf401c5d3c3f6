// A second process for the store and capture tests: writes the same store file while a
// test holds it open, holds a lock on it, or saves in a loop until it is killed.
//   store_helper write <path> <count> <author>          one save of <count> text items
//   store_helper copies <path> <text> <count> <pauseMs> <count> saves of one copy of <text> each
//   store_helper lock <path>                            holds an exclusive lock until stdin closes
//   store_helper loop <path>                            saves batches forever, printing "committed N"

#include "StoreRows.h"

#include "store/ClipItem.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"
#include "store/sql/SqlConnection.h"

#include <QCoreApplication>
#include <QThread>
#include <QUuid>

#include <cstdio>
#include <iostream>
#include <string>

using namespace Qt::StringLiterals;

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "store_helper: %s\n", message.toUtf8().constData());
    return 2;
}

// Saves `count` times (forever when negative), each time after filling in new items.
int saveRepeatedly(const QString &path, const QString &author, int count, const std::function<void(StoreContext &, int)> &fill)
{
    StoreContainer container(u"Kestrelnote"_s);
    container.storeDescription().path = path;
    if (auto loaded = container.loadPersistentStore(); !loaded)
        return fail(loaded.error().localizedDescription());
    StoreContext *context = container.viewContext();
    context->setTransactionAuthor(author);
    context->setName(author);
    for (int save = 0; count < 0 || save < count; ++save) {
        fill(*context, save);
        if (auto saved = context->save(); !saved)
            return fail(saved.error().localizedDescription());
        context->refreshAll();
    }
    std::printf("done\n");
    return 0;
}

int holdLock(const QString &path)
{
    auto connection = sql::Connection::open(path, {});
    if (!connection)
        return fail(connection.error().localizedDescription());
    if (auto locked = (*connection)->exec(u"PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                                          "SELECT count(*) FROM sqlite_schema"_s);
        !locked)
        return fail(locked.error().localizedDescription());
    std::printf("locked\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) { }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const QString command = arguments.value(1);
    const QString path = arguments.value(2);
    if (command == "write"_L1 && arguments.size() == 5) {
        const int count = arguments[3].toInt();
        const QString author = arguments[4];
        return saveRepeatedly(path, author, 1, [&](StoreContext &context, int) {
            for (int i = 0; i < count; ++i) {
                auto item = context.insert<ClipItem>();
                item->setPlainText(u"%1 item %2"_s.arg(author).arg(i));
                item->setCreatedAt(QDateTime::currentDateTimeUtc().addSecs(3600));
            }
        });
    }
    if (command == "copies"_L1 && arguments.size() == 6) {
        const QString text = arguments[3];
        const unsigned long pauseMs = arguments[5].toULong();
        return saveRepeatedly(path, u"store_helper"_s, arguments[4].toInt(), [&](StoreContext &context, int save) {
            if (save > 0)
                QThread::msleep(pauseMs);
            auto item = context.insert<ClipItem>();
            item->setId(QUuid::createUuid());
            item->setCreatedAt(QDateTime::currentDateTimeUtc());
            item->setKind(ClipKind::Text);
            item->setPlainText(text);
            item->setContentHash(storerows::hashFor(text, {}));
        });
    }
    if (command == "lock"_L1 && arguments.size() == 3)
        return holdLock(path);
    if (command == "loop"_L1 && arguments.size() == 3) {
        return saveRepeatedly(path, u"store_helper"_s, -1, [](StoreContext &context, int save) {
            if (save > 0) {
                std::printf("committed %d\n", save);
                std::fflush(stdout);
            }
            for (int i = 0; i < storerows::rowsPerTransaction; ++i)
                storerows::fill(*context.insert<ClipItem>(), save, i);
        });
    }
    return fail(u"usage: store_helper write|copies|lock|loop <path> ..."_s);
}
