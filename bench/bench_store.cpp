// Prints the store's figures for histories of 10,000, 100,000 and 1,000,000 text items:
// saving in batches and one at a time, the search index catching up after the batches (and
// a search before it has), opening the live list, following a new item, searching (also
// right after another program wrote, when the list's rows must be read afresh), memory and
// file size; beside the saving rate, the rate of the same rows into a bare SQLite table,
// the engine's own ceiling on this machine. Run from the build folder:
//   build/bench/bench_store            all three sizes
//   build/bench/bench_store 100000     one size
#include "store/ClipItem.h"
#include "store/FetchedResultsModel.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"
#include "store/TextFolding.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// Words of several languages so that searches with and without accents find something.
const QStringList vocabulary{
    QStringLiteral("the"), QStringLiteral("résumé"), QStringLiteral("meeting"), QStringLiteral("https://example.com/path"),
    QStringLiteral("été"), QStringLiteral("Straße"), QStringLiteral("naïve"), QStringLiteral("invoice"),
    QStringLiteral("password"), QStringLiteral("λόγος"), QStringLiteral("東京"), QStringLiteral("café"),
    QStringLiteral("function"), QStringLiteral("return"), QStringLiteral("address"), QStringLiteral("Zürich"),
    QStringLiteral("quarterly"), QStringLiteral("report"), QStringLiteral("TODO"), QStringLiteral("numbers"),
    QStringLiteral("über"), QStringLiteral("déjà"), QStringLiteral("vu"), QStringLiteral("lorem"), QStringLiteral("ipsum"),
};

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : 0;
}

// Sizes like a real clipboard: mostly short, a long tail up to 1 MB.
int textLength(QRandomGenerator &random)
{
    const double roll = random.generateDouble();
    auto logUniform = [&random](double low, double high) {
        return int(std::exp(std::log(low) + random.generateDouble() * (std::log(high) - std::log(low))));
    };
    if (roll < 0.90)
        return 5 + int(random.bounded(95));
    if (roll < 0.99)
        return logUniform(100, 10'000);
    if (roll < 0.999)
        return logUniform(10'000, 100'000);
    return logUniform(100'000, 1'000'000);
}

QString makeText(QRandomGenerator &random, int length)
{
    QString text;
    text.reserve(length + 32);
    while (text.size() < length) {
        text += vocabulary[random.bounded(int(vocabulary.size()))];
        text += random.bounded(8) == 0 ? QLatin1Char('\n') : QLatin1Char(' ');
        if (random.bounded(4) == 0)
            text += QString::number(random.bounded(100000));
    }
    text.truncate(length);
    return text;
}

QByteArray makeImage(QRandomGenerator &random)
{
    QByteArray bytes(90'000 + int(random.bounded(20'000)), Qt::Uninitialized);
    for (qsizetype i = 0; i + 4 <= bytes.size(); i += 4) {
        const quint32 value = random.generate();
        std::memcpy(bytes.data() + i, &value, 4);
    }
    return bytes;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double percentile95(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(double(values.size()) * 0.95))];
}

// CPU time of the whole process: the machine is shared, so wall time alone varies with its load.
double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double milliseconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

qint64 storeSize(const QString &path)
{
    qint64 total = 0;
    for (const char *suffix : {"", "-wal", "-shm"})
        total += QFileInfo(path + QLatin1String(suffix)).size();
    return total;
}

// One batch of new items: a text, or with images on, one picture in fifty.
struct Batch {
    std::vector<QString> texts;
    std::vector<QByteArray> pictures;
};

Batch makeBatch(QRandomGenerator &random, int size, bool withImages)
{
    Batch batch;
    for (int i = 0; i < size; ++i) {
        if (withImages && random.bounded(50) == 0) {
            batch.pictures.push_back(makeImage(random));
            batch.texts.emplace_back();
        } else {
            batch.texts.push_back(makeText(random, textLength(random)));
            batch.pictures.emplace_back();
        }
    }
    return batch;
}

// The same rows saved the same way into a bare SQLite table (no index, no search copy, no
// history): what the engine alone allows on this machine, for comparison with the store.
double bareSqliteRate(const QString &path, int itemCount, bool withImages)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return 0;
    sqlite3_exec(db,
                 "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
                 "CREATE TABLE item (pk INTEGER PRIMARY KEY, id BLOB, createdAt INTEGER, kind TEXT,"
                 " plainText TEXT, sourceAppName TEXT, contentHash INTEGER);"
                 "CREATE TABLE picture (pk INTEGER PRIMARY KEY, bytes BLOB);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *item = nullptr;
    sqlite3_stmt *picture = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO item (id, createdAt, kind, plainText, sourceAppName, contentHash) VALUES (?, ?, ?, ?, 'Editor', ?)", -1, &item, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO picture (pk, bytes) VALUES (?, ?)", -1, &picture, nullptr);
    QRandomGenerator random(7);
    double savingMs = 0;
    for (int done = 0; done < itemCount;) {
        const int size = std::min(50, itemCount - done);
        const Batch batch = makeBatch(random, size, withImages);
        QElapsedTimer timer;
        timer.start();
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (int i = 0; i < size; ++i) {
            const QByteArray id = QUuid::createUuid().toRfc4122();
            const bool isPicture = !batch.pictures[size_t(i)].isEmpty();
            const QByteArray text = batch.texts[size_t(i)].toUtf8();
            sqlite3_bind_blob(item, 1, id.constData(), int(id.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(item, 2, done + i);
            sqlite3_bind_text(item, 3, isPicture ? "image" : "text", -1, SQLITE_STATIC);
            if (isPicture)
                sqlite3_bind_null(item, 4);
            else
                sqlite3_bind_text(item, 4, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(item, 5, qint64(random.generate64()));
            sqlite3_step(item);
            sqlite3_reset(item);
            if (isPicture) {
                const QByteArray &bytes = batch.pictures[size_t(i)];
                sqlite3_bind_int64(picture, 1, sqlite3_last_insert_rowid(db));
                sqlite3_bind_blob(picture, 2, bytes.constData(), int(bytes.size()), SQLITE_STATIC);
                sqlite3_step(picture);
                sqlite3_reset(picture);
            }
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        savingMs += milliseconds(timer);
        done += size;
    }
    sqlite3_finalize(item);
    sqlite3_finalize(picture);
    sqlite3_close(db);
    return itemCount / (savingMs / 1000);
}

Predicate searchFor(const QString &text)
{
    const auto cd = TextComparison::CaseDiacriticInsensitive;
    return Predicate::anyOf({Predicate::contains(QStringLiteral("plainText"), text, cd),
                             Predicate::contains(QStringLiteral("fileName"), text, cd),
                             Predicate::contains(QStringLiteral("sourceAppName"), text, cd),
                             Predicate::contains(QStringLiteral("title"), text, cd)});
}

void run(int itemCount)
{
    QRandomGenerator random(7);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
    StoreContainer container(QStringLiteral("Kestrelnote"));
    container.storeDescription().path = path;
    if (auto loaded = container.loadPersistentStore(); !loaded) {
        std::printf("cannot open the store: %s\n", qPrintable(loaded.error().localizedDescription()));
        return;
    }
    StoreContext *view = container.viewContext();
    view->setAutomaticallyMergesChanges(true);
    auto background = container.newBackgroundContext();
    const bool withImages = itemCount <= 100'000;
    std::printf("\n== %d text items%s ==\n", itemCount, withImages ? " and 2 % images" : "");

    // Saving in batches of 50 from a background context.
    const qint64 start = 1'600'000'000'000;
    qint64 textBytes = 0;
    int images = 0;
    double savingMs = 0;
    double savingCpuMs = 0;
    for (int done = 0; done < itemCount;) {
        const int batch = std::min(50, itemCount - done);
        const auto [texts, pictures] = makeBatch(random, batch, withImages);
        for (int i = 0; i < batch; ++i) {
            images += pictures[size_t(i)].isEmpty() ? 0 : 1;
            textBytes += texts[size_t(i)].toUtf8().size();
        }
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = processCpuMs();
        background->performAndWait([&] {
            for (int i = 0; i < batch; ++i) {
                auto item = background->insert<ClipItem>();
                item->setId(QUuid::createUuid());
                item->setCreatedAt(QDateTime::fromMSecsSinceEpoch(start + (done + i) * 1000, Qt::UTC));
                if (!pictures[size_t(i)].isEmpty()) {
                    item->setKind(ClipKind::Image);
                    item->setImageData(pictures[size_t(i)]);
                } else {
                    item->setKind(ClipKind::Text);
                    item->setPlainText(texts[size_t(i)]);
                }
                item->setSourceAppName(QStringLiteral("Editor"));
                item->setContentHash(qint64(random.generate64()));
            }
            if (auto saved = background->save(); !saved)
                std::printf("save failed: %s\n", qPrintable(saved.error().localizedDescription()));
            background->refreshAll();
        });
        savingMs += milliseconds(timer);
        savingCpuMs += processCpuMs() - cpuBefore;
        done += batch;
    }
    // Right after a burst of saves (an import) every new row waits for the index, and a
    // search reads their folded texts.
    std::vector<double> waitingSearches;
    qint64 waitingMatches = 0;
    for (int i = 0; i < 5; ++i) {
        FetchRequest waiting = FetchRequest::of<ClipItem>();
        waiting.setPredicate(searchFor(vocabulary[i * 3 % vocabulary.size()].left(10).toUpper()));
        QElapsedTimer timer;
        timer.start();
        const auto counted = view->count(waiting);
        waitingSearches.push_back(milliseconds(timer));
        waitingMatches += counted ? *counted : 0;
    }
    // The search index takes the new rows in once saving pauses; here at once, timed.
    QElapsedTimer indexTimer;
    indexTimer.start();
    const double cpuBeforeIndexing = processCpuMs();
    if (auto indexed = container.indexWaitingRows(); !indexed)
        std::printf("indexing failed: %s\n", qPrintable(indexed.error().localizedDescription()));
    const double indexingMs = milliseconds(indexTimer);
    const double indexingCpuMs = processCpuMs() - cpuBeforeIndexing;
    QCoreApplication::processEvents();   // the view context takes in the saves
    std::printf("saved in batches of 50:        %10.0f items/s  (%d images, %.0f MB of text)\n",
                itemCount / (savingMs / 1000), images, double(textBytes) / 1e6);
    std::printf("  per CPU second:              %10.0f items/s\n", itemCount / (savingCpuMs / 1000));
    std::printf("search index caught up after:  %10.1f s     (%.0f items/s, %.0f per CPU second)\n",
                indexingMs / 1000, itemCount / (indexingMs / 1000), itemCount / (indexingCpuMs / 1000));
    std::printf("  saved and indexed:           %10.0f items/s\n", itemCount / ((savingMs + indexingMs) / 1000));
    std::printf("  a search before then:        %10.1f ms median, %lld rows on average, none indexed\n",
                median(waitingSearches), waitingMatches / 5);
    std::printf("  same rows, bare SQLite table:%10.0f items/s  (no index, no search copy, no history)\n",
                bareSqliteRate(dir.filePath(QStringLiteral("bare.sqlite")), itemCount, withImages));

    // One item at a time.
    std::vector<double> single;
    for (int i = 0; i < 100; ++i) {
        QElapsedTimer timer;
        timer.start();
        background->performAndWait([&] {
            auto item = background->insert<ClipItem>();
            item->setPlainText(makeText(random, 40));
            item->setCreatedAt(QDateTime::fromMSecsSinceEpoch(start + qint64(itemCount + i) * 1000, Qt::UTC));
            (void)background->save();
        });
        single.push_back(milliseconds(timer));
    }
    QCoreApplication::processEvents();
    std::printf("one-item save, median:         %10.2f ms\n", median(single));

    // The live list over all items, newest first.
    const qint64 residentBefore = residentBytes();
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setSortDescriptors({{QStringLiteral("createdAt"), false}});
    FetchedResultsModel model(view, request);
    QElapsedTimer openTimer;
    openTimer.start();
    (void)model.performFetch();
    for (int row = 0; row < 20; ++row)
        model.data(model.index(row), Qt::DisplayRole);
    const double openMs = milliseconds(openTimer);
    std::printf("live list open (%d rows):  %10.2f ms\n", model.rowCount(), openMs);

    // A new item saved on a background context, until the list shows it.
    std::vector<double> follow, followWithSave;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer sinceSave, sinceCommit;
        bool seen = false;
        auto connection = QObject::connect(&model, &QAbstractItemModel::rowsInserted, &model, [&] { seen = true; });
        sinceSave.start();
        background->performAndWait([&] {
            auto item = background->insert<ClipItem>();
            item->setPlainText(makeText(random, 60));
            item->setCreatedAt(QDateTime::currentDateTimeUtc().addYears(5).addSecs(i));
            (void)background->save();
        });
        sinceCommit.start();
        while (!seen)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        follow.push_back(milliseconds(sinceCommit));
        followWithSave.push_back(milliseconds(sinceSave));
        QObject::disconnect(connection);
    }
    std::printf("new item shown, median:        %10.2f ms after the save (%.2f ms with it)\n", median(follow),
                median(followWithSave));

    // Search of one, three and ten characters, as the shelf runs it.
    for (int length : {1, 2, 3, 10}) {
        std::vector<double> times;
        qint64 matches = 0;
        for (int i = 0; i < 15; ++i) {
            QString word = vocabulary[(i * 7) % vocabulary.size()] + QLatin1Char(' ')
                + vocabulary[(i * 11 + 3) % vocabulary.size()];
            word = word.mid(int(random.bounded(std::max(1, int(word.size()) - length))), length);
            if (word.size() < length)
                word = word.leftJustified(length, QLatin1Char('e'));
            QElapsedTimer timer;
            timer.start();
            (void)model.setPredicate(searchFor(word.toUpper()));
            times.push_back(milliseconds(timer));
            matches += model.rowCount();
        }
        std::printf("search of %2d characters:       %10.2f ms median, %.2f ms 95th percentile (%lld rows on average)\n",
                    length, median(times), percentile95(times), matches / 15);
    }
    // Another program's write that no poll has reported yet: the search cannot narrow the
    // rows the list holds and reads them afresh.
    {
        sqlite3 *other = nullptr;
        sqlite3_open(path.toUtf8().constData(), &other);
        registerFoldingFunctions(other);
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            (void)model.setPredicate(std::nullopt);
            sqlite3_exec(other, "UPDATE ClipItem SET title = 'renamed elsewhere' WHERE pk = (SELECT max(pk) FROM ClipItem)",
                         nullptr, nullptr, nullptr);
            QElapsedTimer timer;
            timer.start();
            (void)model.setPredicate(searchFor(QStringLiteral("PLE")));
            times.push_back(milliseconds(timer));
        }
        sqlite3_close(other);
        std::printf("search of  3 characters after another program wrote: %.2f ms median\n", median(times));
    }
    (void)model.setPredicate(std::nullopt);
    for (int row = 0; row < 50; ++row)
        model.data(model.index(row), Qt::DisplayRole);
    std::printf("resident memory listing all:   %10.1f MB (%.1f MB more than before the list)\n",
                double(residentBytes()) / 1e6, double(residentBytes() - residentBefore) / 1e6);
    std::printf("file size:                     %10.1f MB\n", double(storeSize(path)) / 1e6);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QList<int> sizes{10'000, 100'000, 1'000'000};
    if (argc > 1) {
        bool isNumber = false;
        const int size = QString::fromLocal8Bit(argv[1]).toInt(&isNumber);
        if (!isNumber || size < 1) {
            std::fprintf(stderr, "usage: %s [number of items]\n", argv[0]);
            return 2;
        }
        sizes = {size};
    }
    for (int size : sizes)
        run(size);
    return 0;
}
