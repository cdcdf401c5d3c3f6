// Another process writing the same store: inserts `count` text items with the given text,
// one transaction each, `pauseMs` apart. Used to make real remote changes in tests.
#include "capture/ContentHash.h"
#include "store/ClipItem.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <QUuid>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: storewriter STORE TEXT COUNT PAUSE_MS\n");
        return 2;
    }
    StoreContainer container(QStringLiteral("Kestrelnote"));
    container.storeDescription().path = args.at(1);
    if (const auto loaded = container.loadPersistentStore(); !loaded) {
        std::fprintf(stderr, "cannot open store: %s\n", qPrintable(loaded.error().localizedDescription()));
        return 1;
    }
    StoreContext &context = *container.viewContext();
    context.setTransactionAuthor(QStringLiteral("storewriter"));
    const QString text = args.at(2);
    for (int i = 0; i < args.at(3).toInt(); ++i) {
        const auto item = context.insert<ClipItem>();
        item->setId(QUuid::createUuid());
        item->setCreatedAt(QDateTime::currentDateTimeUtc());
        item->setKind(ClipKind::Text);
        item->setPlainText(text);
        item->setContentHash(computeContentHash(text, std::nullopt));
        if (const auto saved = context.save(); !saved) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(saved.error().localizedDescription()));
            return 1;
        }
        QThread::msleep(args.at(4).toULong());
    }
    return 0;
}
