#include "FaultVfs.h"
#include "StoreTestSupport.h"

#include "store/PersistenceController.h"
#include "store/StoreFailureAlert.h"
#include "store/sql/SqlConnection.h"

#include "platform/log/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct RecordingAlert : StoreFailureAlert {
    QStringList shown;
    void show(const QString &message, const QString &information, const QString &button) override
    {
        shown = {message, information, button};
    }
};

// A controller with its alert and quit recorded instead of shown.
struct Harness {
    RecordingAlert alert;
    int quits = 0;
    std::unique_ptr<PersistenceController> controller;

    void open(const std::optional<QString> &location, bool inMemory = false, const QByteArray &vfs = {})
    {
        PersistenceController::Options options;
        options.alert = &alert;
        options.quit = [this] { ++quits; };
        options.busyTimeoutMs = 200;
        options.vfs = vfs;
        controller = std::make_unique<PersistenceController>(inMemory, location, options);
    }
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (auto &byte : bytes)
        byte = char(QRandomGenerator::global()->generate());
    return bytes;
}

// A real store with some items, closed cleanly (its log folded into the file).
void makeStore(const QString &path, int items)
{
    StoreContainer container(QStringLiteral("Kestrelnote"));
    container.storeDescription().path = path;
    QVERIFY(container.loadPersistentStore());
    for (int i = 0; i < items; ++i)
        insertText(container.viewContext(), QStringLiteral("item %1 ").arg(i).repeated(20));
    QVERIFY(container.viewContext()->save());
}

mode_t modeOf(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

qint64 itemCount(PersistenceController &controller)
{
    return *controller.container().viewContext()->count(FetchRequest::of<ClipItem>());
}

} // namespace

class TestPersistenceController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensAndConfiguresTheStore()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        Harness harness;
        harness.open(path);
        QVERIFY(harness.controller->isLoaded());
        StoreContainer &container = harness.controller->container();
        QVERIFY(container.storeDescription().historyTracking);
        QVERIFY(container.storeDescription().remoteChangeNotifications);
        // No cloud mirror in this build: the store stays local.
        QVERIFY(!container.storeDescription().cloudContainerIdentifier);
        StoreContext *view = container.viewContext();
        QCOMPARE(view->name(), QStringLiteral("viewContext"));
        QCOMPARE(view->transactionAuthor(), QStringLiteral("app"));
        QVERIFY(view->automaticallyMergesChanges());
        QCOMPARE(view->mergePolicy(), StoreContext::MergePolicy::PropertyObjectTrump);
        insertText(view, QStringLiteral("kept"));
        QVERIFY(view->save());
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(modeOf(path + QStringLiteral("-wal")), mode_t(0600));
        QCOMPARE(modeOf(dir.path()), mode_t(0700));

        harness.open(path);
        QCOMPARE(itemCount(*harness.controller), 1);
        QCoreApplication::processEvents();
        QVERIFY(harness.alert.shown.isEmpty());
    }

    void inMemoryStoresArePrivate()
    {
        Harness first, second;
        first.open(std::nullopt, true);
        second.open(std::nullopt, true);
        insertText(first.controller->container().viewContext(), QStringLiteral("only here"));
        QVERIFY(first.controller->container().viewContext()->save());
        QCOMPARE(itemCount(*first.controller), 1);
        QCOMPARE(itemCount(*second.controller), 0);
        auto background = first.controller->container().newBackgroundContext();
        QCOMPARE(background->performAndWait([&] { return *background->count(FetchRequest::of<ClipItem>()); }), 1);
    }

    void privateModesAreRepaired()
    {
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
        const QString folder = StoreContainer::defaultDirectory();
        QVERIFY(folder.startsWith(home.path()));
        QVERIFY(QDir().mkpath(folder));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        const QString path = folder + QStringLiteral("/Kestrelnote.sqlite");
        makeStore(path, 1);
        ::chmod(QFile::encodeName(path).constData(), 0644);

        Harness harness;
        harness.open(std::nullopt);
        QVERIFY(harness.controller->isLoaded());
        QCOMPARE(harness.controller->container().storeDescription().path, path);
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(itemCount(*harness.controller), 1);
        qunsetenv("XDG_DATA_HOME");
    }

    void damagedStoresAreMovedAside_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("random bytes") << QStringLiteral("random");
        QTest::newRow("a picture") << QStringLiteral("png");
        QTest::newRow("another program's database") << QStringLiteral("foreign");
        QTest::newRow("a newer schema") << QStringLiteral("newer");
        QTest::newRow("truncated") << QStringLiteral("truncated");
        QTest::newRow("malformed schema page") << QStringLiteral("malformed");
    }

    void damagedStoresAreMovedAside()
    {
        QFETCH(QString, damage);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        if (damage == QLatin1String("random")) {
            writeFile(path, randomBytes(64 * 1024));
        } else if (damage == QLatin1String("png")) {
            writeFile(path, QByteArray("\x89PNG\r\n\x1a\n", 8) + randomBytes(5000));
        } else if (damage == QLatin1String("foreign")) {
            auto other = sql::Connection::open(path, {});
            QVERIFY((*other)->exec(QStringLiteral("CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url TEXT); "
                                                  "INSERT INTO moz_places (url) VALUES ('https://example.org')")));
        } else if (damage == QLatin1String("newer")) {
            makeStore(path, 3);
            auto other = sql::Connection::open(path, {});
            QVERIFY((*other)->exec(QStringLiteral("PRAGMA user_version = 99")));
        } else if (damage == QLatin1String("truncated")) {
            makeStore(path, 2000);
            QVERIFY(!QFileInfo::exists(path + QStringLiteral("-wal")));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.resize(file.size() / 2));
        } else {
            makeStore(path, 10);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.seek(100);
            file.write(randomBytes(3000));
        }
        // Left-overs of an earlier repair are replaced.
        writeFile(path + QStringLiteral(".broken"), "older damaged copy");
        writeFile(path + QStringLiteral("-shm.broken"), "older damaged shm");
        const QByteArray damaged = readAll(path);

        klog::Recorder log;
        Harness harness;
        harness.open(path);
        QVERIFY(harness.controller->isLoaded());
        QCOMPARE(itemCount(*harness.controller), 0);
        QCOMPARE(readAll(path + QStringLiteral(".broken")), damaged);
        QVERIFY(readAll(path + QStringLiteral("-shm.broken")) != "older damaged shm");
        const QStringList errors = log.messages(klog::Category::Persistence, klog::Level::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith(QStringLiteral("store load failed: ")));
        QCOMPARE(log.messages(klog::Category::Persistence, klog::Level::Default),
                 QStringList{QStringLiteral("corrupt store moved aside; recreated empty store")});
        QCoreApplication::processEvents();
        QVERIFY(harness.alert.shown.isEmpty());
        QCOMPARE(harness.quits, 0);
        // The new store works.
        insertText(harness.controller->container().viewContext(), QStringLiteral("fresh start"));
        QVERIFY(harness.controller->container().viewContext()->save());
    }

    void aLockedStoreIsLeftAloneAndAlerted()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        makeStore(path, 5);
        const QByteArray before = readAll(path);
        QProcess holder;
        holder.start(QStringLiteral(KN_STORE_HELPER), {QStringLiteral("lock"), path});
        QVERIFY(holder.waitForReadyRead(5000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

        klog::Recorder log;
        Harness harness;
        harness.open(path);
        QVERIFY(!harness.controller->isLoaded());
        QVERIFY(!QFileInfo::exists(path + QStringLiteral(".broken")));
        QTRY_COMPARE(harness.quits, 1);
        QCOMPARE(harness.alert.shown.value(0), QStringLiteral("Kestrelnote can't open its clipboard history"));
        QVERIFY(harness.alert.shown.value(1).startsWith(QStringLiteral("The history database couldn't be opened (")));
        QVERIFY(harness.alert.shown.value(1).endsWith(
            QStringLiteral("). Try freeing disk space or restarting your Mac; if this keeps happening, reinstall Kestrelnote.")));
        QCOMPARE(harness.alert.shown.value(2), QStringLiteral("Quit"));
        QCOMPARE(log.messages(klog::Category::Persistence, klog::Level::Error).size(), 1);
        // A store that cannot be opened is no store: every context says so.
        auto fetched = harness.controller->container().viewContext()->fetch(FetchRequest::of<ClipItem>());
        QCOMPARE(fetched.error().code, StoreError::Code::NotLoaded);

        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
        QCOMPARE(readAll(path), before);
        harness.open(path);
        QCOMPARE(itemCount(*harness.controller), 5);
    }

    void aReadOnlyFolderIsAlertedNotRepaired()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("history"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/Kestrelnote.sqlite");
        bool immutable = false;
        if (::geteuid() == 0) {
            // Permissions do not stop root; the immutable attribute does.
            immutable = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) == 0;
            if (!immutable)
                QSKIP("running as root without chattr: a read-only folder cannot be made");
        } else {
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0500) == 0);
        }
        Harness harness;
        harness.open(path);
        if (immutable)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
        else
            ::chmod(QFile::encodeName(folder).constData(), 0700);
        QVERIFY(!harness.controller->isLoaded());
        QTRY_COMPARE(harness.quits, 1);
        QCOMPARE(harness.alert.shown.size(), 3);
        QVERIFY(!QFileInfo::exists(path + QStringLiteral(".broken")));
    }

    void aFullDiskIsAlertedNotRepaired()
    {
        const QByteArray vfs = faultvfs::install();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        faultvfs::failWrites(SQLITE_FULL);
        Harness harness;
        harness.open(path, false, vfs);
        faultvfs::reset();
        QVERIFY(!harness.controller->isLoaded());
        QTRY_COMPARE(harness.quits, 1);
        QVERIFY(harness.alert.shown.value(1).contains(QStringLiteral("full")));
        QVERIFY(!QFileInfo::exists(path + QStringLiteral(".broken")));
    }

    void aFailedRecreationIsAFault()
    {
        const QByteArray vfs = faultvfs::install();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        writeFile(path, randomBytes(8192));
        // The first open reads the damaged file; every later one fails.
        faultvfs::failOpens(SQLITE_IOERR, 1);
        klog::Recorder log;
        Harness harness;
        harness.open(path, false, vfs);
        faultvfs::reset();
        QVERIFY(!harness.controller->isLoaded());
        QVERIFY(QFileInfo::exists(path + QStringLiteral(".broken")));
        const QStringList faults = log.messages(klog::Category::Persistence, klog::Level::Fault);
        QCOMPARE(faults.size(), 1);
        QVERIFY(faults.first().startsWith(QStringLiteral("store recreate failed: ")));
        QTRY_COMPARE(harness.quits, 1);
        QCOMPARE(harness.alert.shown.size(), 3);
    }

    void moveAsideSkipsMissingFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Kestrelnote.sqlite"));
        writeFile(path, "db");
        writeFile(path + QStringLiteral("-wal"), "wal");
        writeFile(path + QStringLiteral("-wal.broken"), "old wal");
        PersistenceController::moveStoreAside(path);
        QCOMPARE(readAll(path + QStringLiteral(".broken")), QByteArray("db"));
        QCOMPARE(readAll(path + QStringLiteral("-wal.broken")), QByteArray("wal"));
        QVERIFY(!QFileInfo::exists(path + QStringLiteral("-shm.broken")));
        QVERIFY(!QFileInfo::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestPersistenceController)
#include "tst_persistencecontroller.moc"
