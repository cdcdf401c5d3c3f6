#include "ReaderFixture.h"
#include "import/PasteFolder.h"

#include <QProcess>
#include <QRegularExpression>
#include <QUuid>

#include <limits>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pasteblob;
using Item = PasteDatabaseBuilder::Item;

namespace {

const QDateTime referenceDate = QDateTime::fromSecsSinceEpoch(978307200, Qt::UTC);

Item textItem(const QString &text, QVariant seconds, QVariant pasteboard = {})
{
    Item item;
    item.createdAt = std::move(seconds);
    item.pasteboard = pasteboard.isValid() ? pasteboard : textArchive(text);
    return item;
}

// Builds db.sqlite with what `fill` adds, closes it, and reads the folder.
ReadResult readBuilt(ReaderFixture &paste, const std::function<void(PasteDatabaseBuilder &)> &fill,
                     std::optional<qint64> limit = std::nullopt, int tables = PasteDatabaseBuilder::AllTables)
{
    {
        PasteDatabaseBuilder builder(paste.databasePath(), tables);
        fill(builder);
    }
    return paste.read(limit);
}

// Writes a file of an external blob folder; returns its name in the marker and its path.
std::pair<QByteArray, QString> writeExternal(const ReaderFixture &paste, const QString &support, const QByteArray &bytes,
                                             QByteArray name = {})
{
    if (name.isEmpty())
        name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    const QString folder = paste.path(support + QStringLiteral("/_EXTERNAL_DATA"));
    QDir().mkpath(folder);
    QFile file(folder + QLatin1Char('/') + QString::fromLatin1(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return {name, file.fileName()};
}

// Puts a bad input in the Paste folder; false if it could not.
using BadInput = std::function<bool(const ReaderFixture &)>;

const QString unsupported = QStringLiteral("This Paste database uses a format Kestrelnote can't read (Paste 3 or newer is required).");

} // namespace

Q_DECLARE_METATYPE(BadInput)

class TestPasteDatabaseReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // db.sqlite wins over Paste.db, and each reads its own support folder, where a file
    // beyond the size bound is not read.
    void externalBlobsComeFromTheSupportFolderOfTheDatabaseRead_data()
    {
        QTest::addColumn<QString>("databaseName");
        QTest::addColumn<QString>("supportFolder");
        QTest::newRow("db.sqlite") << QStringLiteral("db.sqlite") << QStringLiteral(".db_SUPPORT");
        QTest::newRow("Paste.db") << QStringLiteral("Paste.db") << QStringLiteral(".Paste_SUPPORT");
    }
    void externalBlobsComeFromTheSupportFolderOfTheDatabaseRead()
    {
        QFETCH(QString, databaseName);
        QFETCH(QString, supportFolder);
        ReaderFixture paste;
        // The same name in both support folders: only the right one may be read.
        const QByteArray name = writeExternal(paste, QStringLiteral(".db_SUPPORT"), textArchive(QStringLiteral("in .db_SUPPORT"))).first;
        writeExternal(paste, QStringLiteral(".Paste_SUPPORT"), textArchive(QStringLiteral("in .Paste_SUPPORT")), name);
        const auto huge = writeExternal(paste, supportFolder, textArchive(QStringLiteral("huge")));
        QVERIFY(QFile::resize(huge.second, qint64(2) * 1024 * 1024 * 1024)); // sparse: costs no disk
        {
            PasteDatabaseBuilder builder(paste.path(databaseName));
            builder.addItem(textItem({}, 5.0, externalReference(name)));
            builder.addItem(textItem({}, 4.0, externalReference(huge.first)));
        }
        if (databaseName == QStringLiteral("db.sqlite"))
            PasteDatabaseBuilder(paste.path(QStringLiteral("Paste.db"))).addItem(textItem(QStringLiteral("from Paste.db"), 10));
        const ReadResult result = paste.read();
        QCOMPARE(result.texts(), QStringList{QStringLiteral("in ") + supportFolder});
        QCOMPARE(result.outcome.value().undecodable, 1);
    }

    void badInputFailsCleanly_data()
    {
        QTest::addColumn<BadInput>("input");
        QTest::addColumn<QString>("expected");
        const QString notFound = QStringLiteral("That folder doesn't contain Paste's database (db.sqlite).");
        QTest::newRow("no database") << BadInput([](const ReaderFixture &paste) {
            return QFile(paste.path(QStringLiteral("Paste.sqlite"))).open(QIODevice::WriteOnly);
        }) << notFound;
        QTest::newRow("dangling link") << BadInput([](const ReaderFixture &paste) {
            return QFile::link(paste.path(QStringLiteral("gone")), paste.databasePath());
        }) << notFound;
        QTest::newRow("not a database") << BadInput([](const ReaderFixture &paste) {
            QFile file(paste.databasePath());
            return file.open(QIODevice::WriteOnly) && file.write(QByteArray(8192, '\x5a')) == 8192;
        }) << unsupported;
        QTest::newRow("no item table") << BadInput([](const ReaderFixture &paste) {
            PasteDatabaseBuilder(paste.databasePath(), PasteDatabaseBuilder::Lists | PasteDatabaseBuilder::Apps);
            return true;
        }) << unsupported;
        QTest::newRow("missing column") << BadInput([](const ReaderFixture &paste) {
            PasteDatabaseBuilder(paste.databasePath()).exec("ALTER TABLE ZITEMENTITY DROP COLUMN ZTITLE");
            return true;
        }) << QStringLiteral("Couldn't read Paste's database: no such column: i.ZTITLE");
        // Computed as it is read: 100 MB a row out of a file of a few kilobytes.
        QTest::newRow("generated column") << BadInput([](const ReaderFixture &paste) {
            PasteDatabaseBuilder builder(paste.databasePath(), PasteDatabaseBuilder::Data | PasteDatabaseBuilder::Apps
                                                                   | PasteDatabaseBuilder::Lists);
            builder.exec("CREATE TABLE ZITEMENTITY (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
                         "ZRAWTYPE INTEGER, ZCREATEDAT TIMESTAMP, ZTIMESTAMP TIMESTAMP, ZTITLE VARCHAR, ZLIST INTEGER, "
                         "ZSOURCEAPPLICATION INTEGER, ZRAWPREVIEW BLOB AS (zeroblob(100000000)))");
            builder.exec("INSERT INTO ZITEMENTITY (ZCREATEDAT) VALUES (1), (2)");
            return true;
        }) << unsupported;
        // Reading a FIFO would block.
        QTest::newRow("a FIFO named db.sqlite") << BadInput([](const ReaderFixture &paste) {
            return mkfifo(QFile::encodeName(paste.databasePath()).constData(), 0600) == 0;
        }) << QStringLiteral("The file \u201Cdb.sqlite\u201D couldn't be copied: it is not a regular file.");
    }
    void badInputFailsCleanly()
    {
        QFETCH(BadInput, input);
        QFETCH(QString, expected);
        ReaderFixture paste;
        QVERIFY(input(paste));
        const auto before = paste.snapshot();
        const ReadResult result = paste.read();
        QCOMPARE(result.failureText(), expected);
        QVERIFY(result.clips.isEmpty());
        QCOMPARE(paste.leftovers(), QStringList());
        QCOMPARE(paste.snapshot(), before);
    }

    void newestFirstWithTiesAndMissingDates()
    {
        ReaderFixture paste;
        const ReadResult result = readBuilt(paste, [](PasteDatabaseBuilder &builder) {
            Item stampedOnly = textItem(QStringLiteral("timestamp 150"), QVariant());
            stampedOnly.timestamp = 150.0;
            builder.addItem(textItem(QStringLiteral("100, key 1"), 100.0));
            builder.addItem(textItem(QStringLiteral("undated"), QVariant()));
            builder.addItem(textItem(QStringLiteral("100, key 3"), 100.0));
            builder.addItem(stampedOnly);
            builder.addItem(textItem(QStringLiteral("200.5"), 200.5));
        });
        QCOMPARE(result.texts(), (QStringList{QStringLiteral("200.5"), QStringLiteral("timestamp 150"), QStringLiteral("100, key 3"),
                                              QStringLiteral("100, key 1"), QStringLiteral("undated")}));
        QCOMPARE(result.clips.at(0).createdAt, referenceDate.addMSecs(200500));
        QCOMPARE(result.clips.at(1).createdAt, referenceDate.addSecs(150));
    }

    void datesFromOddValues_data()
    {
        QTest::addColumn<QVariant>("createdAt");
        QTest::addColumn<QVariant>("timestamp");
        QTest::addColumn<qint64>("expectedSeconds"); // after the reference date; -1: the time of reading
        QTest::newRow("zero") << QVariant(0.0) << QVariant() << qint64(-1);
        QTest::newRow("negative, then timestamp") << QVariant(-5.0) << QVariant(50.0) << qint64(50);
        QTest::newRow("integer") << QVariant(qint64(86400)) << QVariant() << qint64(86400);
        QTest::newRow("blob") << QVariant(QByteArray("\x00\xff\x10", 3)) << QVariant() << qint64(-1);
        QTest::newRow("huge, then timestamp") << QVariant(1e300) << QVariant(60.0) << qint64(60);
        QTest::newRow("huge integer") << QVariant(std::numeric_limits<qint64>::max()) << QVariant() << qint64(-1);
        QTest::newRow("year 9999") << QVariant(252423993599.0) << QVariant() << qint64(252423993599);
        QTest::newRow("text, then timestamp") << QVariant(QStringLiteral("yesterday")) << QVariant(70.0) << qint64(70);
    }
    void datesFromOddValues()
    {
        QFETCH(QVariant, createdAt);
        QFETCH(QVariant, timestamp);
        QFETCH(qint64, expectedSeconds);
        ReaderFixture paste;
        Item item = textItem(QStringLiteral("x"), createdAt);
        item.timestamp = timestamp;
        PasteDatabaseBuilder(paste.databasePath()).addItem(item);
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const ReadResult result = paste.read();
        QCOMPARE(result.clips.size(), 1);
        const QDateTime date = result.clips.first().createdAt;
        if (expectedSeconds >= 0)
            QCOMPARE(date, referenceDate.addSecs(expectedSeconds));
        else
            QVERIFY(date >= before.addMSecs(-1) && date <= QDateTime::currentDateTimeUtc());
    }

    void rowsInTheWriteAheadLog_data()
    {
        QTest::addColumn<bool>("keepIndex");
        QTest::addColumn<bool>("keepLog");
        QTest::addColumn<QStringList>("expected");
        const QStringList both = {QStringLiteral("only in the log"), QStringLiteral("checkpointed")};
        QTest::newRow("log and index") << true << true << both;
        QTest::newRow("log without index") << false << true << both;
        QTest::newRow("no log") << false << false << QStringList{QStringLiteral("checkpointed")};
    }
    void rowsInTheWriteAheadLog()
    {
        QFETCH(bool, keepIndex);
        QFETCH(bool, keepLog);
        QFETCH(QStringList, expected);
        ReaderFixture paste;
        {
            PasteDatabaseBuilder builder(paste.databasePath());
            builder.addItem(textItem(QStringLiteral("checkpointed"), 10.0));
            builder.exec("PRAGMA wal_checkpoint(TRUNCATE)");
            builder.holdInLog();
            builder.addItem(textItem(QStringLiteral("only in the log"), 20.0));
            builder.close(true);
        }
        const QString log = paste.databasePath() + QStringLiteral("-wal");
        QVERIFY(QFileInfo(log).size() > 0);
        if (!keepIndex)
            QFile::remove(paste.databasePath() + QStringLiteral("-shm"));
        if (!keepLog)
            QFile::remove(log);

        const auto before = paste.snapshot();
        const ReadResult result = paste.read();
        QCOMPARE(result.failureText(), QString());
        QCOMPARE(result.texts(), expected);
        // Paste's log is copied, never applied to Paste's own file.
        QCOMPARE(paste.snapshot(), before);
        QCOMPARE(paste.leftovers(), QStringList());
    }

    // A transaction cut short leaves a journal beside a file that already holds some of its
    // changes. Read without the journal, the copy showed rows that were never committed.
    void interruptedTransactionIsRolledBackInTheCopy()
    {
        QTemporaryDir source;
        const QString original = source.filePath(QStringLiteral("db.sqlite"));
        PasteDatabaseBuilder builder(original, PasteDatabaseBuilder::AllTables, false);
        builder.addTexts(2000, QStringLiteral("committed "));
        // A small page cache spills the transaction into the file before it ends.
        builder.exec("PRAGMA cache_size = 10");
        builder.begin();
        builder.exec(QByteArray("UPDATE ZITEMDATAENTITY SET ZRAWPASTEBOARDITEMS = X'"
                                + textArchive(QStringLiteral("never committed")).toHex() + "'")
                         .constData());
        ReaderFixture paste;
        QVERIFY(QFile::copy(original, paste.databasePath()));
        QVERIFY(QFile::copy(original + QStringLiteral("-journal"), paste.databasePath() + QStringLiteral("-journal")));
        builder.exec("ROLLBACK");

        const auto before = paste.snapshot();
        const ReadResult result = paste.read();
        QCOMPARE(result.failureText(), QString());
        const QStringList texts = result.texts();
        QCOMPARE(texts.size(), 2000);
        QVERIFY(!texts.contains(QStringLiteral("never committed")));
        // Rolled back in the copy only.
        QCOMPARE(paste.snapshot(), before);
        QCOMPARE(paste.leftovers(), QStringList());
    }

    // A journal may name a super-journal by any path. Rolling it back, SQLite read that file
    // and deleted it unless a journal it listed pointed back: a Paste folder could delete
    // any file of the user's.
    void aJournalNamingAnotherFileLeavesThatFileAlone()
    {
        QTemporaryDir source;
        const QString original = source.filePath(QStringLiteral("db.sqlite"));
        PasteDatabaseBuilder builder(original, PasteDatabaseBuilder::AllTables, false);
        builder.addTexts(2000, QStringLiteral("committed "));
        // The file as committed, and the journal of a transaction begun on it.
        ReaderFixture paste;
        QVERIFY(QFile::copy(original, paste.databasePath()));
        builder.exec("PRAGMA cache_size = 10");
        builder.begin();
        builder.exec("UPDATE ZITEMENTITY SET ZTITLE = 'never committed'");
        QVERIFY(QFile::copy(original + QStringLiteral("-journal"), paste.databasePath() + QStringLiteral("-journal")));
        builder.exec("ROLLBACK");

        const QString victim = source.filePath(QStringLiteral("notes.txt"));
        {
            QFile notes(victim);
            QVERIFY(notes.open(QIODevice::WriteOnly));
            notes.write("a file of the user's, listing no journal");
        }
        // The super-journal record: a page number, the name, its length, its checksum (the
        // sum of its bytes) and the journal's magic number.
        const QByteArray name = QFile::encodeName(victim);
        quint32 checksum = 0;
        for (const char c : name)
            checksum += quint32(quint8(c));
        QByteArray record;
        testarchive::appendBigEndian(record, 0x40000000 / 4096 + 1, 4);
        record += name;
        testarchive::appendBigEndian(record, quint64(name.size()), 4);
        testarchive::appendBigEndian(record, checksum, 4);
        record += QByteArray::fromHex("d9d505f920a163d7");
        QFile journal(paste.databasePath() + QStringLiteral("-journal"));
        QVERIFY(journal.open(QIODevice::Append));
        QCOMPARE(journal.write(record), record.size());
        journal.close();

        const auto before = paste.snapshot();
        const ReadResult result = paste.read();
        QCOMPARE(result.failureText(), QString());
        QCOMPARE(result.texts().size(), 2000);
        QVERIFY(QFileInfo::exists(victim));
        QCOMPARE(paste.snapshot(), before);
        QCOMPARE(paste.leftovers(), QStringList());
    }

    // Keys of the side tables need not be unique in a file made elsewhere. Joined as they
    // were, every item came once for each application row with its key times each list row.
    void repeatedKeysInSideTablesRepeatNoItem()
    {
        ReaderFixture paste;
        const ReadResult result = readBuilt(paste, [](PasteDatabaseBuilder &builder) {
            builder.exec("CREATE TABLE ZAPPLICATIONENTITY (Z_PK INTEGER, Z_ENT INTEGER, Z_OPT INTEGER, "
                         "ZBUNDLEIDENTIFIER VARCHAR, ZNAME VARCHAR)");
            builder.exec("CREATE TABLE ZLISTENTITY (Z_PK INTEGER, Z_ENT INTEGER, Z_OPT INTEGER, ZNAME VARCHAR, "
                         "ZRAWTYPE INTEGER)");
            builder.exec("INSERT INTO ZAPPLICATIONENTITY (Z_PK, ZNAME) VALUES (1, 'Kate'), (1, 'Kate'), (1, 'Kate')");
            builder.exec("INSERT INTO ZLISTENTITY (Z_PK, ZNAME, ZRAWTYPE) VALUES (1, 'Work', 2), (1, 'Work', 2)");
            for (int i = 0; i < 3; ++i) {
                Item item = textItem(QStringLiteral("item %1").arg(i), 10.0 - i);
                item.app = 1;
                item.list = i == 0 ? QVariant(1) : QVariant();
                builder.addItem(item);
            }
        }, 1, PasteDatabaseBuilder::Items | PasteDatabaseBuilder::Data);
        QCOMPARE(result.texts(), (QStringList{QStringLiteral("item 0"), QStringLiteral("item 1")}));
        QCOMPARE(result.outcome, std::optional(ReadOutcome{3, 2, 0, 1, false}));
        QCOMPARE(result.reports.last().done, 3);
        QCOMPARE(result.clips.first().pinboard, QStringLiteral("Work"));
        QCOMPARE(result.clips.last().sourceAppName, QStringLiteral("Kate"));
    }

    void limitCountsHistoryRowsOnly()
    {
        ReaderFixture paste;
        const ReadResult result = readBuilt(paste, [](PasteDatabaseBuilder &builder) {
            const qint64 pinboard = builder.addList(QStringLiteral("Work"));
            const qint64 blank = builder.addList(QStringLiteral(" \t ")); // no pinboard: its rows are history
            builder.begin();
            // 210 rows, newest first: every 21st is a pinboard item (10), the rest history (200).
            for (int i = 0; i < 210; ++i) {
                Item item = textItem(QStringLiteral("row %1").arg(i), 10000.0 - i);
                item.list = i % 21 == 20 ? QVariant(pinboard) : i % 21 == 10 ? QVariant(blank) : QVariant();
                builder.addItem(item);
            }
            builder.commit();
        }, 50);
        QCOMPARE(result.outcome, std::optional(ReadOutcome{210, 60, 0, 150, false}));
        QCOMPARE(result.reports.size(), 210);
        QCOMPARE(result.reports.last().done, 210);
        QCOMPARE(result.reports.last().total, 210);
        // The 50th history row, after two pinboard rows; then only pinboard rows.
        QCOMPARE(result.texts().at(51), QStringLiteral("row 51"));
        QCOMPARE(result.texts().at(52), QStringLiteral("row 62"));
        QCOMPARE(result.texts().last(), QStringLiteral("row 209"));
    }

    // One stored value as the list's name and as the item's title: pinboard names lose
    // spaces and tabs only, titles all white space.
    void pinboardNamesAndTitles_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("listType");
        QTest::addColumn<QVariant>("pinboard"); // invalid: none
        QTest::addColumn<QVariant>("title");
        const QVariant work(QStringLiteral("Work"));
        QTest::newRow("trimmed") << QVariant(QStringLiteral(" \tWork \t")) << QVariant(2) << work << work;
        QTest::newRow("line break") << QVariant(QStringLiteral("Work\n")) << QVariant(2) << QVariant(QStringLiteral("Work\n")) << work;
        QTest::newRow("other list type") << work << QVariant(1) << QVariant() << work;
        QTest::newRow("no list type") << work << QVariant() << work << work;
        QTest::newRow("type 2 plus 2^32") << work << QVariant(qint64(0x100000002)) << QVariant() << work;
        QTest::newRow("only spaces") << QVariant(QStringLiteral("   ")) << QVariant(2) << QVariant() << QVariant();
        QTest::newRow("null") << QVariant() << QVariant(2) << QVariant() << QVariant();
        QTest::newRow("a number") << QVariant(42) << QVariant(2) << QVariant(QStringLiteral("42")) << QVariant(QStringLiteral("42"));
    }
    void pinboardNamesAndTitles()
    {
        QFETCH(QVariant, stored);
        QFETCH(QVariant, listType);
        QFETCH(QVariant, pinboard);
        QFETCH(QVariant, title);
        ReaderFixture paste;
        const ReadResult result = readBuilt(paste, [&](PasteDatabaseBuilder &builder) {
            Item item = textItem(QStringLiteral("x"), 1.0);
            item.list = builder.addList(stored, listType);
            item.title = stored;
            builder.addItem(item);
        });
        QCOMPARE(result.clips.size(), 1);
        const auto toVariant = [](const std::optional<QString> &text) { return text ? QVariant(*text) : QVariant(); };
        QCOMPARE(toVariant(result.clips.first().pinboard), pinboard);
        QCOMPARE(toVariant(result.clips.first().title), title);
    }

    // Each kind with its source and the latest data row; columns of a wrong type give content
    // or count as undecodable, never a wrong kind.
    void kindsSourcesAndWrongTypesInColumns()
    {
        ReaderFixture paste;
        const QByteArray png = pngOf(QSize(4, 3));
        const QByteArray textAndImage = testarchive::binaryPlist(
            QVariantList{testarchive::item({{utf8Type, QByteArray("text beside an image")}, {pngType, pngOf(QSize(2, 2))}})});
        const ReadResult result = readBuilt(paste, [&](PasteDatabaseBuilder &builder) {
            const auto add = [&](QVariant type, double createdAt, QVariant pasteboard, QVariant preview = {}, QVariant title = {}) {
                Item item = textItem({}, createdAt, std::move(pasteboard));
                item.type = std::move(type);
                item.preview = std::move(preview);
                item.title = std::move(title);
                builder.addItem(item);
            };
            Item picture = textItem({}, 9.0, imageArchive(png));
            picture.type = 1;
            picture.app = builder.addApp(QStringLiteral("org.kde.kate"), QStringLiteral("Kate"));
            builder.addItem(picture);
            Item text = textItem(QStringLiteral("an older data row"), 8.0);
            text.app = 999; // an application row that does not exist
            builder.addData(builder.addItem(text), lzfseStored(textArchive(QStringLiteral("latest"))));
            add(0, 6.0, QStringLiteral("not an archive"), textPreview(QStringLiteral("preview of a text column")));
            add(0, 5.0, QStringLiteral("not an archive either"));
            add(qint64(0x100000001), 4.0, textAndImage); // 1 in its low 32 bits: must not read as an image
            add(-1, 3.0, textAndImage);
            add(QStringLiteral("image"), 2.0, textAndImage, 7 /* not a record */, QByteArray("\xff\xfe title", 8));
            add(0, 1.0, 12345);
        });
        QCOMPARE(result.outcome.value().undecodable, 2);
        const QString beside = QStringLiteral("text beside an image");
        QCOMPARE(result.texts(), (QStringList{QStringLiteral("<not text>"), QStringLiteral("latest"),
                                              QStringLiteral("preview of a text column"), beside, beside, beside}));
        QCOMPARE(std::get<ClipboardPayload::Image>(result.clips.at(0).content).bytes, png);
        QCOMPARE(result.clips.at(0).sourceAppName, QStringLiteral("Kate"));
        QCOMPARE(result.clips.at(0).sourceBundleID, QStringLiteral("org.kde.kate"));
        QCOMPARE(result.clips.at(1).sourceAppName, std::nullopt);
        QVERIFY(result.clips.at(5).title.has_value());
    }

    void missingSideTablesAreNoError()
    {
        ReaderFixture paste;
        const ReadResult result = readBuilt(paste, [](PasteDatabaseBuilder &builder) {
            Item item;
            item.createdAt = 1.0;
            item.preview = textPreview(QStringLiteral("from the preview"));
            item.list = 1;
            item.app = 1;
            builder.addItem(item);
        }, std::nullopt, PasteDatabaseBuilder::Items);
        QCOMPARE(result.texts(), QStringList{QStringLiteral("from the preview")});
        QCOMPARE(result.clips.first().pinboard, std::nullopt);
        QCOMPARE(result.clips.first().sourceAppName, std::nullopt);
    }

    void cancellation_data()
    {
        QTest::addColumn<int>("cancelAfter"); // rows; -1: never
        QTest::addColumn<int>("expectedClips");
        QTest::newRow("before the first row") << 0 << 0;
        QTest::newRow("after the second row") << 2 << 2;
        QTest::newRow("after the last row") << 3 << 3;
        QTest::newRow("never") << -1 << 3;
    }
    void cancellation()
    {
        QFETCH(int, cancelAfter);
        QFETCH(int, expectedClips);
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath()).addTexts(3, QString());
        const ReadResult result = paste.read(std::nullopt, [&](const ReadResult &sofar) {
            return cancelAfter >= 0 && sofar.reports.size() >= cancelAfter;
        });
        QCOMPARE(result.outcome, std::optional(ReadOutcome{3, expectedClips, 0, 0, cancelAfter >= 0}));
        QCOMPARE(result.clips.size(), expectedClips);
        QCOMPARE(result.reports.size(), expectedClips);
        QCOMPARE(paste.leftovers(), QStringList());
    }

    void callerFailureEndsTheReadAfterCleanUp()
    {
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath()).addTexts(3, QString());
        const ReadResult result = paste.read(std::nullopt, {}, [](const ReadResult &sofar) {
            return sofar.clips.size() == 2 ? std::optional(ClipError{QStringLiteral("the store is gone")}) : std::nullopt;
        });
        QCOMPARE(result.failureText(), QStringLiteral("the store is gone"));
        QCOMPARE(result.clips.size(), 2);
        QCOMPARE(paste.leftovers(), QStringList());
    }

    void aCopyThatCannotBeMadeFailsWithTheReason()
    {
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath()).addItem(textItem(QStringLiteral("x"), 1.0));
        // The temporary directory is a file: no folder can be made in it.
        const QString blocked = paste.temporaryFolder() + QStringLiteral("/not-a-folder");
        QVERIFY(QFile(blocked).open(QIODevice::WriteOnly));
        qputenv("TMPDIR", QFile::encodeName(blocked));
        const auto before = paste.snapshot();
        const ReadResult result = paste.read();
        QVERIFY(result.failure && std::holds_alternative<FileSystemError>(*result.failure));
        QVERIFY2(result.failureText().contains(blocked), qPrintable(result.failureText()));
        QVERIFY(result.clips.isEmpty());
        QCOMPARE(paste.snapshot(), before);
        QCOMPARE(paste.leftovers(), QStringList{QStringLiteral("not-a-folder")});
    }

    void theDefaultFolderIsUnderTheRealHome()
    {
        // $HOME may point into a sandbox or a test folder; the user database knows the real one.
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", "/nonexistent-home");
        const QString folder = defaultPasteFolder();
        qputenv("HOME", oldHome);
        const passwd *entry = getpwuid(getuid());
        QVERIFY(entry);
        QCOMPARE(folder, QFile::decodeName(entry->pw_dir)
                     + QStringLiteral("/Library/Containers/com.wiheads.paste/Data/Library/Application Support/Paste"));
    }

    void theCopyIsPrivate()
    {
        ReaderFixture paste;
        {
            PasteDatabaseBuilder builder(paste.databasePath());
            builder.holdInLog();
            builder.addItem(textItem(QStringLiteral("x"), 1.0));
            builder.close(true);
        }
        const auto modeOf = [](const QString &path) {
            struct stat status {};
            stat(QFile::encodeName(path).constData(), &status);
            return QString::number(status.st_mode & 0777, 8);
        };
        const mode_t oldMask = umask(0);
        QStringList seen; // each folder of copies, its mode, then "name mode" of each file in it
        const ReadResult result = paste.read(std::nullopt, {}, [&](const ReadResult &) {
            for (const QString &name : paste.leftovers()) {
                const QString folder = paste.temporaryFolder() + QLatin1Char('/') + name;
                seen << name << modeOf(folder);
                for (const QString &file : QDir(folder).entryList(QDir::Files))
                    seen << file + QLatin1Char(' ') + modeOf(folder + QLatin1Char('/') + file);
            }
            return std::optional<ClipError>();
        });
        umask(oldMask);
        QVERIFY(result.outcome);
        QVERIFY(seen.size() >= 4);
        QVERIFY2(QRegularExpression(QStringLiteral("^paste-import-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                     .match(seen.at(0)).hasMatch(), qPrintable(seen.at(0)));
        QCOMPARE(seen.at(1), QStringLiteral("700"));
        QVERIFY2(seen.contains(QStringLiteral("db.sqlite 600")), qPrintable(seen.join(QLatin1Char(','))));
        // The log as copied; SQLite's own files beside the copy follow the copy's mode.
        for (const QString &entry : seen.mid(2))
            QVERIFY2(entry.endsWith(QLatin1String(" 600")), qPrintable(entry));
        QCOMPARE(paste.leftovers(), QStringList());
    }

    void databaseLockedByAnotherProgram_data()
    {
        QTest::addColumn<bool>("wal");
        QTest::newRow("write-ahead log") << true;
        QTest::newRow("rollback journal") << false;
    }
    void databaseLockedByAnotherProgram()
    {
        QFETCH(bool, wal);
        ReaderFixture paste;
        PasteDatabaseBuilder(paste.databasePath(), PasteDatabaseBuilder::AllTables, wal)
            .addItem(textItem(QStringLiteral("committed"), 1.0));
        QProcess locker;
        locker.start(QStringLiteral(KN_SQLITE_LOCKER), {paste.databasePath()});
        QVERIFY(locker.waitForReadyRead(10000));
        QCOMPARE(locker.readLine().trimmed(), QByteArray("locked"));

        const auto before = paste.snapshot();
        const ReadResult result = paste.read();
        const auto after = paste.snapshot();
        locker.closeWriteChannel();
        QVERIFY(locker.waitForFinished(10000));
        QCOMPARE(locker.exitCode(), 0);

        QCOMPARE(result.failureText(), QString());
        QCOMPARE(result.texts(), QStringList{QStringLiteral("committed")});
        QCOMPARE(after, before);
        QCOMPARE(paste.leftovers(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPasteDatabaseReader)
#include "tst_pastedatabasereader.moc"
