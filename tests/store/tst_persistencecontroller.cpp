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

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

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

    void open(const std::optional<QString> &location, const QByteArray &vfs = {})
    {
        PersistenceController::Options options;
        options.alert = &alert;
        options.quit = [this] { ++quits; };
        options.busyTimeoutMs = 200;
        options.vfs = vfs;
        controller = std::make_unique<PersistenceController>(false, location, options);
    }
    StoreContext *view() const { return controller->container().viewContext(); }
    qint64 items() const { return *view()->count(FetchRequest::of<ClipItem>()); }
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
    StoreContainer container(u"Kestrelnote"_s);
    container.storeDescription().path = path;
    QVERIFY(container.loadPersistentStore());
    for (int i = 0; i < items; ++i)
        insertText(container.viewContext(), u"item %1 "_s.arg(i).repeated(20));
    QVERIFY(container.viewContext()->save());
}

mode_t modeOf(const QString &path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

void setMode(const QString &path, mode_t mode)
{
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

} // namespace

class TestPersistenceController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The store at the per-user location is made private, and made private again when its
    // modes were loosened meanwhile; the view context merges what others save.
    void opensPrivatelyAtTheUserLocation()
    {
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
        const QString folder = StoreContainer::defaultDirectory();
        QVERIFY(folder.startsWith(home.path()));
        const QString path = folder + u"/Kestrelnote.sqlite"_s;
        Harness harness;
        harness.open(std::nullopt);
        QCOMPARE(harness.controller->container().storeDescription().path, path);
        StoreContext *view = harness.view();
        QCOMPARE(view->transactionAuthor(), u"app"_s);
        QVERIFY(view->automaticallyMergesChanges());
        QCOMPARE(view->mergePolicy(), StoreContext::MergePolicy::PropertyObjectTrump);
        insertText(view, u"kept"_s);
        QVERIFY(view->save());
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(modeOf(path + u"-wal"_s), mode_t(0600));
        QCOMPARE(modeOf(folder), mode_t(0700));

        harness.controller.reset();
        setMode(folder, 0755);
        setMode(path, 0644);
        harness.open(std::nullopt);
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(modeOf(folder), mode_t(0700));
        QCOMPARE(harness.items(), 1);
        QCoreApplication::processEvents();
        QVERIFY(harness.alert.shown.isEmpty());
    }

    void damagedStoresAreMovedAside_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("random bytes") << u"random"_s;
        QTest::newRow("another program's database") << u"foreign"_s;
        QTest::newRow("a newer schema") << u"newer"_s;
        QTest::newRow("truncated") << u"truncated"_s;
        QTest::newRow("malformed schema page") << u"malformed"_s;
    }

    void damagedStoresAreMovedAside()
    {
        QFETCH(QString, damage);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Kestrelnote.sqlite"_s);
        if (damage == "random"_L1) {
            writeFile(path, randomBytes(64 * 1024));
        } else if (damage == "foreign"_L1 || damage == "newer"_L1) {
            if (damage == "newer"_L1)
                makeStore(path, 3);
            auto other = sql::Connection::open(path, {});
            QVERIFY((*other)->exec(damage == "newer"_L1 ? u"PRAGMA user_version = 99"_s
                                                         : u"CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url TEXT)"_s));
        } else {
            makeStore(path, damage == "truncated"_L1 ? 2000 : 10);
            QVERIFY(!QFileInfo::exists(path + u"-wal"_s));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            if (damage == "truncated"_L1)
                QVERIFY(file.resize(file.size() / 2));
            else
                QVERIFY(file.seek(100) && file.write(randomBytes(3000)) == 3000);
        }
        // Left-overs of an earlier repair are replaced.
        writeFile(path + u".broken"_s, "older damaged copy");
        writeFile(path + u"-shm.broken"_s, "older damaged shm");
        const QByteArray damaged = readAll(path);

        klog::Recorder log;
        Harness harness;
        harness.open(path);
        QVERIFY(harness.controller->isLoaded());
        QCOMPARE(harness.items(), 0);
        QCOMPARE(readAll(path + u".broken"_s), damaged);
        QVERIFY(readAll(path + u"-shm.broken"_s) != "older damaged shm");
        const QStringList errors = log.messages(klog::Category::Persistence, klog::Level::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith(u"store load failed: "_s));
        QCOMPARE(log.messages(klog::Category::Persistence, klog::Level::Default),
                 QStringList{u"corrupt store moved aside; recreated empty store"_s});
        QCoreApplication::processEvents();
        QVERIFY(harness.alert.shown.isEmpty());
        QCOMPARE(harness.quits, 0);
        insertText(harness.view(), u"fresh start"_s);
        QVERIFY(harness.view()->save());
    }

    // A store that is there but cannot be opened now is never moved aside: the user is told.
    void unopenableStoresAreAlertedNotRepaired_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("locked by another process") << u"locked"_s;
        QTest::newRow("read-only folder") << u"read-only"_s;
        QTest::newRow("full disk") << u"full"_s;
    }

    void unopenableStoresAreAlertedNotRepaired()
    {
        QFETCH(QString, fault);
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"history"_s);
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + u"/Kestrelnote.sqlite"_s;
        QProcess holder;
        bool immutable = false;
        QByteArray vfs;
        if (fault == "locked"_L1) {
            makeStore(path, 5);
            holder.start(QStringLiteral(KN_STORE_HELPER), {u"lock"_s, path});
            QVERIFY(holder.waitForReadyRead(5000));
            QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));
        } else if (fault == "read-only"_L1 && ::geteuid() == 0) {
            // Permissions do not stop root; the immutable attribute does.
            immutable = QProcess::execute(u"chattr"_s, {u"+i"_s, folder}) == 0;
            if (!immutable)
                QSKIP("running as root without chattr: a read-only folder cannot be made");
        } else if (fault == "read-only"_L1) {
            setMode(folder, 0500);
        } else {
            vfs = faultvfs::install();
            faultvfs::failWrites(SQLITE_FULL);
        }
        const QByteArray before = readAll(path);

        klog::Recorder log;
        Harness harness;
        harness.open(path, vfs);
        faultvfs::reset();
        if (immutable)
            QProcess::execute(u"chattr"_s, {u"-i"_s, folder});
        setMode(folder, 0700);

        QVERIFY(!harness.controller->isLoaded());
        QCOMPARE(harness.view()->fetch(FetchRequest::of<ClipItem>()).error().code, StoreError::Code::NotLoaded);
        QCOMPARE(log.messages(klog::Category::Persistence, klog::Level::Error).size(), 1);
        QTRY_COMPARE(harness.quits, 1);
        QCOMPARE(harness.alert.shown.value(0), u"Kestrelnote can't open its clipboard history"_s);
        const QString information = harness.alert.shown.value(1);
        QVERIFY(information.startsWith(u"The history database couldn't be opened ("_s));
        QVERIFY(information.endsWith(u"). Try freeing disk space or restarting your computer; "
                                     "if this keeps happening, reinstall Kestrelnote."_s));
        QCOMPARE(harness.alert.shown.value(2), u"Quit"_s);
        if (fault == "full"_L1)
            QVERIFY(information.contains(u"full"_s));
        QVERIFY(!QFileInfo::exists(path + u".broken"_s));
        QCOMPARE(readAll(path), before);

        if (fault == "locked"_L1) {
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished(5000));
            harness.open(path);
            QCOMPARE(harness.items(), 5);
        }
    }

    void aFailedRecreationIsAFault()
    {
        const QByteArray vfs = faultvfs::install();
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Kestrelnote.sqlite"_s);
        writeFile(path, randomBytes(8192));
        // The first open reads the damaged file; every later one fails.
        faultvfs::failOpens(SQLITE_IOERR, 1);
        klog::Recorder log;
        Harness harness;
        harness.open(path, vfs);
        faultvfs::reset();
        QVERIFY(!harness.controller->isLoaded());
        QVERIFY(QFileInfo::exists(path + u".broken"_s));
        const QStringList faults = log.messages(klog::Category::Persistence, klog::Level::Fault);
        QCOMPARE(faults.size(), 1);
        QVERIFY(faults.first().startsWith(u"store recreate failed: "_s));
        QTRY_COMPARE(harness.quits, 1);
        QCOMPARE(harness.alert.shown.size(), 3);
    }

    void moveAsideSkipsMissingFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Kestrelnote.sqlite"_s);
        writeFile(path, "db");
        writeFile(path + u"-wal"_s, "wal");
        writeFile(path + u"-wal.broken"_s, "old wal");
        PersistenceController::moveStoreAside(path);
        QCOMPARE(readAll(path + u".broken"_s), QByteArray("db"));
        QCOMPARE(readAll(path + u"-wal.broken"_s), QByteArray("wal"));
        QVERIFY(!QFileInfo::exists(path + u"-shm.broken"_s));
        QVERIFY(!QFileInfo::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestPersistenceController)
#include "tst_persistencecontroller.moc"
