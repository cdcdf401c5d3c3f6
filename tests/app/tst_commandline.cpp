#include "CliEnvironment.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace {

QJsonArray array(const CliRun &run) { return QJsonDocument::fromJson(run.out).array(); }
QJsonObject object(const CliRun &run) { return QJsonDocument::fromJson(run.out).object(); }

} // namespace

// The real executable against its own XDG folders, as a user's shell would run it.
class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addListAndJsonGiveEveryAttribute()
    {
        CliHome cli;
        QCOMPARE(cli("add", "text", "Résumé draft", "--source-app", "Kate", "--source-id", "org.kde.kate").exitCode, 0);
        QCOMPARE(cli.run({u"add"_s, u"text"_s}, "from standard input\n").exitCode, 0);
        QCOMPARE(cli("add", "file", "/etc/hosts").exitCode, 0);

        const CliRun all = cli("list", "--json");
        QCOMPARE(all.exitCode, 0);
        const QJsonArray items = array(all);
        QCOMPARE(items.size(), 3);
        const QJsonObject file = items.at(0).toObject();
        QCOMPARE(file["kind"_L1].toString(), u"file"_s);
        QCOMPARE(file["plainText"_L1].toString(), u"/etc/hosts"_s);
        QCOMPARE(file["fileName"_L1].toString(), u"hosts"_s);
        QCOMPARE(items.at(1)["plainText"_L1].toString(), u"from standard input\n"_s);
        const QJsonObject text = items.at(2).toObject();
        for (const char *key : {"id", "createdAt", "kind", "plainText", "rtfData", "imageData", "fileName", "sourceAppName",
                                "sourceBundleID", "contentHash", "isPinned", "labelID", "title"})
            QVERIFY2(text.contains(QLatin1String(key)), key);
        QCOMPARE(text["sourceBundleID"_L1].toString(), u"org.kde.kate"_s);
        QVERIFY(text["createdAt"_L1].toString().endsWith(u'Z'));
        QVERIFY(text["imageData"_L1].isNull());
        QVERIFY(text["contentHash"_L1].toString().toLongLong() != 0);

        QCOMPARE(array(cli("list", "--search", "RESUME", "--json")).size(), 1);
        QCOMPARE(array(cli("list", "--limit", "2", "--json")).size(), 2);
        QCOMPARE(array(cli("list", "--limit", "0", "--json")).size(), 0);
        QCOMPARE(cli("count", "--kind", "file").line(), u"1"_s);

        // Images are described by size and digest, never dumped.
        QTemporaryDir dir;
        QImage image(3000, 600, QImage::Format_RGB32);
        image.fill(Qt::red);
        const QString path = dir.filePath(u"wide.png"_s);
        QVERIFY(image.save(path));
        const CliRun added = cli("add", "image", path);
        QCOMPARE(added.exitCode, 0);
        const QJsonObject data = object(cli("show", added.line().left(8), "--json"))["imageData"_L1].toObject();
        QVERIFY(data["bytes"_L1].toInteger() > 0);
        QCOMPARE(data["sha256"_L1].toString().size(), 64);
    }

    void duplicatesAreAbsorbedAndLimitsApply()
    {
        CliHome cli;
        QCOMPARE(cli("settings", "set", "historyLimit", "10").exitCode, 0);
        for (int i = 0; i < 55; ++i)
            QCOMPARE(cli("add", "text", u"t%1"_s.arg(i % 52)).exitCode, 0);
        // 52 distinct texts, a limit acting as 50: 51 saved right after the last capture.
        QCOMPARE(cli("count").line(), u"51"_s);
        QCOMPARE(array(cli("list", "--limit", "1", "--json")).first()["plainText"_L1].toString(), u"t2"_s);
    }

    void pinTitleLabelAndDelete()
    {
        CliHome cli;
        const QString id = cli("add", "text", "keep me").line();
        const QString shortId = id.left(6).toLower();
        QCOMPARE(cli("pin", shortId).exitCode, 0);
        QCOMPARE(cli("title", shortId, "  Greeting ").exitCode, 0);
        QCOMPARE(cli("label", "create", "  Work ").exitCode, 0);
        QCOMPARE(cli("label", "assign", shortId, "work").exitCode, 0);

        QJsonObject item = array(cli("list", "--pinned", "--label", "Work", "--json")).first().toObject();
        // The heal after each edit keeps titles in their trimmed form.
        QCOMPARE(item["title"_L1].toString(), u"Greeting"_s);
        const QJsonObject label = array(cli("labels", "--json")).first().toObject();
        QCOMPARE(label["name"_L1].toString(), u"Work"_s);
        QCOMPARE(item["labelID"_L1].toString(), label["id"_L1].toString());

        // A blank new name changes nothing, and says so.
        const CliRun blank = cli("label", "rename", "Work", " \t");
        QCOMPARE(blank.exitCode, 1);
        QVERIFY2(blank.err.contains("the name is blank"), blank.err.constData());
        QCOMPARE(array(cli("labels", "--json")).first()["name"_L1].toString(), u"Work"_s);

        QCOMPARE(cli("label", "delete", "Work").exitCode, 0);
        item = object(cli("show", shortId, "--json"));
        QVERIFY(item["labelID"_L1].isNull());
        QVERIFY(item["isPinned"_L1].toBool());

        QCOMPARE(cli("delete", id).exitCode, 0);
        QCOMPARE(cli("count").line(), u"0"_s);
    }

    void badArgumentsFailClearly_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("unknown command") << QStringList{u"frobnicate"_s} << 2;
        QTest::newRow("unknown option") << QStringList{u"list"_s, u"--colour"_s} << 2;
        QTest::newRow("bad kind") << QStringList{u"list"_s, u"--kind"_s, u"video"_s} << 2;
        QTest::newRow("missing value") << QStringList{u"list"_s, u"--limit"_s} << 2;
        QTest::newRow("no such item") << QStringList{u"show"_s, u"ABCDEF"_s} << 1;
        QTest::newRow("short id") << QStringList{u"pin"_s, u"AB"_s} << 1;
        QTest::newRow("blank text") << QStringList{u"add"_s, u"text"_s, u" \n "_s} << 1;
        QTest::newRow("missing image") << QStringList{u"add"_s, u"image"_s, u"/nonexistent.png"_s} << 1;
        QTest::newRow("not an image") << QStringList{u"add"_s, u"image"_s, QStringLiteral(KN_TEST_DATA_DIR "/rtf/libreoffice_letter.txt")} << 1;
        // A device whose size reads as 0 and which never ends is refused at the limit.
        QTest::newRow("endless rich text") << QStringList{u"add"_s, u"text"_s, u"words"_s, u"--rtf"_s, u"/dev/zero"_s} << 1;
        QTest::newRow("unknown setting") << QStringList{u"settings"_s, u"get"_s, u"nope"_s} << 2;
        QTest::newRow("limit not a number") << QStringList{u"settings"_s, u"set"_s, u"historyLimit"_s, u"many"_s} << 2;
        QTest::newRow("copy without a running instance") << QStringList{u"copy"_s, u"ABCDEF"_s} << 1;
    }

    void badArgumentsFailClearly()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        const CliRun run = CliHome().run(args);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(!run.err.isEmpty());
        QVERIFY(run.out.isEmpty());
    }

    // The store refuses new items (a trigger stands for a full disk or a broken file): the
    // capture's save fails, and "add" says so instead of printing the id of an older item.
    void addFailsWhenItsSaveFails()
    {
        CliHome cli;
        const QString first = cli("add", "text", "first").line();
        QVERIFY(!first.isEmpty());
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open((cli.dataFolder() + u"/Kestrelnote.sqlite"_s).toUtf8().constData(), &db), SQLITE_OK);
        const int rc = sqlite3_exec(db, "CREATE TRIGGER refuse BEFORE INSERT ON ClipItem "
                                        "BEGIN SELECT RAISE(ABORT, 'refused'); END", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QCOMPARE(rc, SQLITE_OK);

        const CliRun second = cli("add", "text", "second");
        QCOMPARE(second.exitCode, 1);
        QVERIFY(second.out.isEmpty());
        QVERIFY2(second.err.contains("could not be saved"), second.err.constData());
        const QJsonArray items = array(cli("list", "--json"));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.first()["id"_L1].toString(), first);
    }

    // "add text" reads standard input to its end, however it arrives through the pipe, up
    // to 256 MB: more is refused, not cut short.
    void standardInputIsReadWholeOrRefused()
    {
        CliHome cli;
        QByteArray text;
        for (int line = 0; text.size() < 3 * 1024 * 1024; ++line)
            text += "line " + QByteArray::number(line) + '\n';
        const CliRun added = cli.run({u"add"_s, u"text"_s}, text);
        QCOMPARE(added.exitCode, 0);
        const QJsonObject stored = object(cli("show", added.line(), "--json"));
        QCOMPARE(stored["plainText"_L1].toString().toUtf8(), text);

        const CliRun tooLong = cli.run({u"add"_s, u"text"_s}, QByteArray(256 * 1024 * 1024 + 1, 'a'));
        QCOMPARE(tooLong.exitCode, 1);
        QVERIFY(tooLong.out.isEmpty());
        QVERIFY2(tooLong.err.contains("larger than 256 MB"), tooLong.err.constData());
        QCOMPARE(cli("count").line(), u"1"_s);
    }

    // A damaged file is moved aside by the store itself (its own tests); this one is not damaged,
    // just impossible to open: the alert's texts go to stderr and nothing is moved.
    void unopenableStorePrintsTheFailureTexts()
    {
        CliHome cli;
        QVERIFY(QDir().mkpath(cli.dataFolder() + u"/Kestrelnote.sqlite"_s));
        const CliRun run = cli("list");
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("Kestrelnote can't open its clipboard history"), run.err.constData());
        QVERIFY(run.err.contains("The history database couldn't be opened ("));
        QVERIFY(run.err.contains("if this keeps happening, reinstall Kestrelnote.\n"));
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFileInfo::exists(cli.dataFolder() + u"/Kestrelnote.sqlite.broken"_s));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
