#include "FaultVfs.h"
#include "StoreRows.h"
#include "StoreTestSupport.h"

#include "store/FetchedResultsModel.h"
#include "store/sql/SqlConnection.h"

#include <QProcess>

#include <sqlite3.h>
#include <csignal>

using namespace Qt::StringLiterals;

namespace {

QString integrity(const QString &path)
{
    auto connection = sql::Connection::open(path, {});
    if (!connection)
        return connection.error().message;
    auto statement = (*connection)->prepare(u"PRAGMA integrity_check"_s);
    return statement && statement->next() ? statement->text(0) : u"integrity check did not run"_s;
}

// Every stored item is exactly as StoreRows made it.
void checkEveryItemIsWhole(StoreContext *context)
{
    auto items = context->fetch<ClipItem>(FetchRequest::of<ClipItem>());
    QVERIFY(items);
    for (const auto &item : std::as_const(*items))
        QVERIFY2(storerows::isWhole(*item), qPrintable(item->title().value_or(u"?"_s)));
}

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aKilledWriterLeavesWholeTransactions_data()
    {
        QTest::addColumn<int>("commitsBeforeKill");
        QTest::addColumn<int>("extraDelayMs");
        QTest::newRow("early") << 2 << 0;
        QTest::newRow("mid-save") << 10 << 7;
        QTest::newRow("later") << 25 << 23;
    }

    void aKilledWriterLeavesWholeTransactions()
    {
        QFETCH(int, commitsBeforeKill);
        QFETCH(int, extraDelayMs);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Kestrelnote.sqlite"_s);
        QProcess writer;
        writer.start(QStringLiteral(KN_STORE_HELPER), {u"loop"_s, path});
        QVERIFY(writer.waitForStarted());
        int committed = 0;
        const auto readCommits = [&] {
            while (writer.canReadLine()) {
                const QByteArray line = writer.readLine().trimmed();
                if (line.startsWith("committed "))
                    committed = line.mid(10).toInt();
            }
        };
        while (committed < commitsBeforeKill) {
            QVERIFY2(writer.waitForReadyRead(20000), writer.readAllStandardError().constData());
            readCommits();
        }
        QTest::qWait(extraDelayMs);
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished(5000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        readCommits();

        QCOMPARE(integrity(path), u"ok"_s);
        StoreContainer container(u"Kestrelnote"_s);
        container.storeDescription().path = path;
        QVERIFY(container.loadPersistentStore());
        const qint64 count = *container.viewContext()->count(FetchRequest::of<ClipItem>());
        // Whole transactions only: every one that reported, at most one that did not yet.
        QCOMPARE(count % storerows::rowsPerTransaction, 0);
        const qint64 transactions = count / storerows::rowsPerTransaction;
        QVERIFY2(transactions == committed || transactions == committed + 1,
                 qPrintable(u"%1 transactions stored, %2 reported"_s.arg(transactions).arg(committed)));
        checkEveryItemIsWhole(container.viewContext());
    }

    void aFullDiskLosesOnlyTheFailedSave()
    {
        QTemporaryDir dir;
        StoreContainer container(u"Kestrelnote"_s);
        container.storeDescription().path = dir.filePath(u"Kestrelnote.sqlite"_s);
        container.storeDescription().vfs = faultvfs::install();
        QVERIFY(container.loadPersistentStore());
        StoreContext *view = container.viewContext();
        view->setAutomaticallyMergesChanges(true);
        for (int i = 0; i < 20; ++i)
            storerows::fill(*view->insert<ClipItem>(), 0, i);
        QVERIFY(view->save());
        FetchedResultsModel model(view, itemsNewestFirst());
        QVERIFY(model.performFetch());

        auto capture = container.newBackgroundContext();
        faultvfs::failWrites(SQLITE_FULL);
        StoreResult<void> failed;
        capture->performAndWait([&] {
            for (int i = 0; i < 50; ++i)
                storerows::fill(*capture->insert<ClipItem>(), 1, i);
            capture->deleteObject(capture->fetch<ClipItem>(FetchRequest::of<ClipItem>())->first());
            failed = capture->save();
            capture->rollback();
        });
        faultvfs::reset();
        QVERIFY(!failed);
        QCOMPARE(failed.error().code, StoreError::Code::DiskFull);
        QCOMPARE(integrity(container.storeDescription().path), u"ok"_s);
        QCOMPARE(*view->count(FetchRequest::of<ClipItem>()), 20);
        QCoreApplication::processEvents();
        QCOMPARE(model.rowCount(), 20);

        // Space again: the next save goes through and the list follows it.
        StoreResult<void> retried;
        capture->performAndWait([&] {
            storerows::fill(*capture->insert<ClipItem>(), 2, 0);
            retried = capture->save();
        });
        QVERIFY2(retried, qPrintable(retried ? QString() : retried.error().message));
        QTRY_COMPARE(model.rowCount(), 21);
        QCOMPARE(listed(model), freshRun(view, itemsNewestFirst()));
        checkEveryItemIsWhole(view);
    }

    // Writes to the write-ahead log are gathered and handed on in pieces of at most 128 KB;
    // whatever a commit published must already be in the file for another connection,
    // wherever the commit frame falls among the pieces (a page is about one row here).
    void aCommitIsInTheLogBeforeOthersSeeIt()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"log.sqlite"_s);
        auto writer = std::move(*sql::Connection::open(path, {}));
        QVERIFY(writer->exec(u"PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA wal_autocheckpoint = 0;"
                             "CREATE TABLE t (n INTEGER, x BLOB)"_s));
        auto reader = std::move(*sql::Connection::open(path, {}));
        qint64 rows = 0;
        for (int size = 20; size <= 70; ++size) {
            QVERIFY(writer->exec(u"WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < %1)"
                                 " INSERT INTO t SELECT %2 + i, randomblob(3000) FROM k"_s.arg(size).arg(rows)));
            rows += size;
            // Numbered rows, so that a stale page cannot pass for a new one.
            const auto sum = reader->queryInt64(u"SELECT sum(n) FROM t"_s);
            QVERIFY2(sum, qPrintable(sum ? QString() : sum.error().message));
            QCOMPARE(*sum, rows * (rows + 1) / 2);
        }
        QCOMPARE(sqlite3_wal_checkpoint_v2(reader->handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr),
                 SQLITE_OK);
        QCOMPARE(integrity(path), u"ok"_s);
    }

    // A transaction too large for the page cache writes frames to the log before it ends.
    // Rolled back, those frames must never reach the file later, where the next writer has
    // committed its own meanwhile.
    void aRolledBackTransactionNeverOverwritesALaterCommit()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"log.sqlite"_s);
        auto rolledBack = std::move(*sql::Connection::open(path, {}));
        QVERIFY(rolledBack->exec(u"PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0; PRAGMA cache_size = 10;"
                                 "CREATE TABLE t (n INTEGER, x BLOB); PRAGMA wal_checkpoint(TRUNCATE)"_s));
        auto committed = std::move(*sql::Connection::open(path, {}));
        QVERIFY(committed->exec(u"PRAGMA wal_autocheckpoint = 0"_s));

        QVERIFY(rolledBack->exec(u"BEGIN IMMEDIATE"_s));
        QVERIFY(rolledBack->exec(u"WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 45)"
                                 " INSERT INTO t SELECT -i, randomblob(3000) FROM k"_s));
        QVERIFY(rolledBack->exec(u"ROLLBACK"_s));
        QVERIFY(committed->exec(u"WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 100)"
                                " INSERT INTO t SELECT i, randomblob(3000) FROM k"_s));
        rolledBack.reset();
        committed.reset();

        QCOMPARE(integrity(path), u"ok"_s);
        auto reader = std::move(*sql::Connection::open(path, {}));
        QCOMPARE(*reader->queryInt64(u"SELECT sum(n) FROM t"_s), 5050);
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
