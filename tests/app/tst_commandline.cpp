#include "CliEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QJsonArray array() const { return QJsonDocument::fromJson(out).array(); }
    QString line() const { return QString::fromUtf8(out).trimmed(); }
};

// The real executable against its own XDG folders, as a user's shell would run it.
class Cli
{
public:
    Cli()
    {
        makePrivateRuntimeFolder(m_home);
    }

    QString dataFolder() const { return m_home.filePath(QStringLiteral("data/marrowfieldco/kestrelnote")); }

    Run operator()(const QStringList &args, const QByteArray &input = {}) const
    {
        QProcess process;
        process.setProcessEnvironment(cliEnvironment(m_home));
        process.start(QStringLiteral(KN_KESTRELNOTE), args);
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(30000))
            return {};
        return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
    }

private:
    QTemporaryDir m_home;
};

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addListAndJsonGiveEveryAttribute()
    {
        Cli cli;
        QCOMPARE(cli({QStringLiteral("add"), QStringLiteral("text"), QStringLiteral("Résumé draft"),
                      QStringLiteral("--source-app"), QStringLiteral("Kate"), QStringLiteral("--source-id"),
                      QStringLiteral("org.kde.kate")}).exitCode, 0);
        QCOMPARE(cli({QStringLiteral("add"), QStringLiteral("text")}, "from standard input\n").exitCode, 0);
        QCOMPARE(cli({QStringLiteral("add"), QStringLiteral("file"), QStringLiteral("/etc/hosts")}).exitCode, 0);

        const Run all = cli({QStringLiteral("list"), QStringLiteral("--json")});
        QCOMPARE(all.exitCode, 0);
        const QJsonArray items = all.array();
        QCOMPARE(items.size(), 3);
        const QJsonObject file = items.at(0).toObject();
        QCOMPARE(file[QStringLiteral("kind")].toString(), QStringLiteral("file"));
        QCOMPARE(file[QStringLiteral("plainText")].toString(), QStringLiteral("/etc/hosts"));
        QCOMPARE(file[QStringLiteral("fileName")].toString(), QStringLiteral("hosts"));
        QCOMPARE(items.at(1)[QStringLiteral("plainText")].toString(), QStringLiteral("from standard input\n"));
        const QJsonObject text = items.at(2).toObject();
        for (const char *key : {"id", "createdAt", "kind", "plainText", "rtfData", "imageData", "fileName", "sourceAppName",
                                "sourceBundleID", "contentHash", "isPinned", "labelID", "title"})
            QVERIFY2(text.contains(QLatin1String(key)), key);
        QCOMPARE(text[QStringLiteral("sourceBundleID")].toString(), QStringLiteral("org.kde.kate"));
        QVERIFY(text[QStringLiteral("createdAt")].toString().endsWith(QLatin1Char('Z')));
        QVERIFY(text[QStringLiteral("imageData")].isNull());
        QCOMPARE(text[QStringLiteral("contentHash")].toString().toLongLong() != 0, true);

        const Run found = cli({QStringLiteral("list"), QStringLiteral("--search"), QStringLiteral("RESUME"), QStringLiteral("--json")});
        QCOMPARE(found.array().size(), 1);
        QCOMPARE(cli({QStringLiteral("count"), QStringLiteral("--kind"), QStringLiteral("file")}).line(), QStringLiteral("1"));
    }

    void imagesAreNormalisedAndDescribedByDigest()
    {
        Cli cli;
        QTemporaryDir dir;
        QImage image(3000, 600, QImage::Format_RGB32);
        image.fill(Qt::red);
        const QString path = dir.filePath(QStringLiteral("wide.png"));
        QVERIFY(image.save(path));
        const Run added = cli({QStringLiteral("add"), QStringLiteral("image"), path});
        QCOMPARE(added.exitCode, 0);
        const Run shown = cli({QStringLiteral("show"), added.line().left(8), QStringLiteral("--json")});
        const QJsonObject data = QJsonDocument::fromJson(shown.out).object()[QStringLiteral("imageData")].toObject();
        QVERIFY(data[QStringLiteral("bytes")].toInteger() > 0);
        QCOMPARE(data[QStringLiteral("sha256")].toString().size(), 64);
    }

    void duplicatesAreAbsorbedAndLimitsApply()
    {
        Cli cli;
        QCOMPARE(cli({QStringLiteral("settings"), QStringLiteral("set"), QStringLiteral("historyLimit"), QStringLiteral("10")}).exitCode, 0);
        for (int i = 0; i < 55; ++i)
            QCOMPARE(cli({QStringLiteral("add"), QStringLiteral("text"), QStringLiteral("t%1").arg(i % 52)}).exitCode, 0);
        // 52 distinct texts, a limit acting as 50: 51 saved right after the last capture.
        QCOMPARE(cli({QStringLiteral("count")}).line(), QStringLiteral("51"));
        QCOMPARE(cli({QStringLiteral("list"), QStringLiteral("--limit"), QStringLiteral("1"), QStringLiteral("--json")})
                     .array().first()[QStringLiteral("plainText")].toString(), QStringLiteral("t2"));
    }

    void pinTitleLabelAndDelete()
    {
        Cli cli;
        const QString id = cli({QStringLiteral("add"), QStringLiteral("text"), QStringLiteral("keep me")}).line();
        const QString shortId = id.left(6).toLower();
        QCOMPARE(cli({QStringLiteral("pin"), shortId}).exitCode, 0);
        QCOMPARE(cli({QStringLiteral("title"), shortId, QStringLiteral("  Greeting ")}).exitCode, 0);
        QCOMPARE(cli({QStringLiteral("label"), QStringLiteral("create"), QStringLiteral("  Work ")}).exitCode, 0);
        QCOMPARE(cli({QStringLiteral("label"), QStringLiteral("assign"), shortId, QStringLiteral("work")}).exitCode, 0);

        QJsonObject item = cli({QStringLiteral("list"), QStringLiteral("--pinned"), QStringLiteral("--label"),
                                QStringLiteral("Work"), QStringLiteral("--json")}).array().first().toObject();
        // The heal after each edit keeps titles in their trimmed form.
        QCOMPARE(item[QStringLiteral("title")].toString(), QStringLiteral("Greeting"));
        const QJsonObject label = cli({QStringLiteral("labels"), QStringLiteral("--json")}).array().first().toObject();
        QCOMPARE(label[QStringLiteral("name")].toString(), QStringLiteral("Work"));
        QCOMPARE(item[QStringLiteral("labelID")].toString(), label[QStringLiteral("id")].toString());

        QCOMPARE(cli({QStringLiteral("label"), QStringLiteral("delete"), QStringLiteral("Work")}).exitCode, 0);
        item = QJsonDocument::fromJson(cli({QStringLiteral("show"), shortId, QStringLiteral("--json")}).out).object();
        QVERIFY(item[QStringLiteral("labelID")].isNull());
        QVERIFY(item[QStringLiteral("isPinned")].toBool());

        QCOMPARE(cli({QStringLiteral("delete"), id}).exitCode, 0);
        QCOMPARE(cli({QStringLiteral("count")}).line(), QStringLiteral("0"));
    }

    void badArgumentsFailClearly_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")} << 2;
        QTest::newRow("unknown option") << QStringList{QStringLiteral("list"), QStringLiteral("--colour")} << 2;
        QTest::newRow("bad kind") << QStringList{QStringLiteral("list"), QStringLiteral("--kind"), QStringLiteral("video")} << 2;
        QTest::newRow("missing value") << QStringList{QStringLiteral("list"), QStringLiteral("--limit")} << 2;
        QTest::newRow("no such item") << QStringList{QStringLiteral("show"), QStringLiteral("ABCDEF")} << 1;
        QTest::newRow("short id") << QStringList{QStringLiteral("pin"), QStringLiteral("AB")} << 1;
        QTest::newRow("blank text") << QStringList{QStringLiteral("add"), QStringLiteral("text"), QStringLiteral(" \n ")} << 1;
        QTest::newRow("missing image") << QStringList{QStringLiteral("add"), QStringLiteral("image"), QStringLiteral("/nonexistent.png")} << 1;
        QTest::newRow("unknown setting") << QStringList{QStringLiteral("settings"), QStringLiteral("get"), QStringLiteral("nope")} << 2;
        QTest::newRow("limit not a number") << QStringList{QStringLiteral("settings"), QStringLiteral("set"), QStringLiteral("historyLimit"), QStringLiteral("many")} << 2;
        QTest::newRow("copy without a running instance") << QStringList{QStringLiteral("copy"), QStringLiteral("ABCDEF")} << 1;
    }

    void badArgumentsFailClearly()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        Cli cli;
        const Run run = cli(args);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(!run.err.isEmpty());
        QVERIFY(run.out.isEmpty());
    }

    void unopenableStorePrintsTheFailureTexts()
    {
        Cli cli;
        QVERIFY(QDir().mkpath(cli.dataFolder()));
        // A folder where the database file should be: not damaged, just impossible to open.
        QVERIFY(QDir().mkpath(cli.dataFolder() + QStringLiteral("/Kestrelnote.sqlite")));
        const Run run = cli({QStringLiteral("list")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("Kestrelnote can't open its clipboard history"), run.err.constData());
        QVERIFY(run.err.contains("The history database couldn't be opened ("));
        QVERIFY(run.err.contains("if this keeps happening, reinstall Kestrelnote.\n"));
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFileInfo::exists(cli.dataFolder() + QStringLiteral("/Kestrelnote.sqlite.broken")));
    }

    void damagedStoreIsMovedAsideAndStartedAfresh()
    {
        Cli cli;
        QVERIFY(QDir().mkpath(cli.dataFolder()));
        const QString path = cli.dataFolder() + QStringLiteral("/Kestrelnote.sqlite");
        const QByteArray damaged = QByteArray("not a database at all, just bytes ").repeated(200);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(damaged);
        }
        const Run first = cli({QStringLiteral("add"), QStringLiteral("text"), QStringLiteral("after the repair")});
        QCOMPARE(first.exitCode, 0);
        QVERIFY2(first.err.contains("corrupt store moved aside; recreated empty store"), first.err.constData());
        QFile broken(path + QStringLiteral(".broken"));
        QVERIFY(broken.open(QIODevice::ReadOnly));
        QCOMPARE(broken.readAll(), damaged);
        const Run count = cli({QStringLiteral("count")});
        QCOMPARE(count.line(), QStringLiteral("1"));
        QVERIFY(!count.err.contains("moved aside"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
