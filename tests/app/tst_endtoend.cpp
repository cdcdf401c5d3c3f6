// The real application on a real X server: copies made by other clients land in the history,
// and items go back to the clipboard and into a window.
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

class Session
{
public:
    Session()
    {
        QDir(m_home.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("run")));
        m_env.insert(QStringLiteral("KESTRELNOTE_LOG_STDERR"), QStringLiteral("1"));
    }

    ~Session()
    {
        for (QProcess *process : std::as_const(m_owners)) {
            process->kill();
            process->waitForFinished();
            delete process;
        }
        m_app.kill();
        m_app.waitForFinished();
    }

    bool startApplication()
    {
        m_app.setProcessEnvironment(m_env);
        m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_app.start(QStringLiteral(KN_KESTRELNOTE), {});
        // "resume" succeeds only once the application answers.
        return QTest::qWaitFor([this] { return run({QStringLiteral("resume")}).first == 0; }, 15000);
    }

    QPair<int, QByteArray> run(const QStringList &args, const QString &program = QStringLiteral(KN_KESTRELNOTE),
                               const QByteArray &input = {})
    {
        QProcess process;
        process.setProcessEnvironment(m_env);
        process.start(program, args);
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished(15000);
        return {process.exitCode(), process.readAllStandardOutput()};
    }

    QJsonArray items() { return QJsonDocument::fromJson(run({QStringLiteral("list"), QStringLiteral("--json")}).second).array(); }

    // Waits until the history holds n items.
    bool waitForCount(int n)
    {
        return QTest::qWaitFor([&] { return items().size() == n; }, 10000);
    }

    void xclip(const QByteArray &data, const QString &type = QStringLiteral("text/plain"))
    {
        run({QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"), type},
            QStringLiteral("xclip"), data);
    }

    QProcess *startProcess(const QString &program, const QStringList &args)
    {
        auto *process = new QProcess;
        m_owners.append(process);
        process->setProcessEnvironment(m_env);
        process->start(program, args);
        return process;
    }

    // A client owning the clipboard with several entries at once; none if it did not get there.
    QProcess *copier(const QStringList &entries)
    {
        QProcess *process = startProcess(QStringLiteral(KN_COPIER), entries);
        return process->waitForReadyRead(10000) && process->readAll().contains("ready") ? process : nullptr;
    }

    QString clipboardText()
    {
        return QString::fromUtf8(run({QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o")},
                                     QStringLiteral("xclip")).second);
    }

    QTemporaryDir m_home;
    QProcessEnvironment m_env;
    QProcess m_app;
    QList<QProcess *> m_owners;
};

QString field(const QJsonValue &item, const char *name)
{
    return item.toObject().value(QLatin1String(name)).toString();
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void copiesOfOtherClientsLandInTheHistory()
    {
        Session s;
        s.xclip("on the clipboard before launch");
        QVERIFY(s.startApplication());

        s.xclip("plain text");
        QVERIFY(s.waitForCount(1));
        QCOMPARE(field(s.items().at(0), "plainText"), QStringLiteral("plain text"));

        QVERIFY(s.copier({QStringLiteral("text/plain=styled"), QStringLiteral("text/rtf={\\rtf1 {\\b styled}}")}));
        QVERIFY(s.waitForCount(2));
        QVERIFY(s.items().at(0).toObject().value(QStringLiteral("rtfData")).isObject());

        QImage image(640, 400, QImage::Format_ARGB32);
        image.fill(Qt::magenta);
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "png"));
        s.xclip(png, QStringLiteral("image/png"));
        QVERIFY(s.waitForCount(3));
        QCOMPARE(field(s.items().at(0), "kind"), QStringLiteral("image"));

        s.xclip("file:///etc/hosts\r\nfile:///tmp\r\n", QStringLiteral("text/uri-list"));
        QVERIFY(s.waitForCount(4));
        QCOMPARE(field(s.items().at(0), "kind"), QStringLiteral("file"));
        QCOMPARE(field(s.items().at(0), "plainText"), QStringLiteral("/etc/hosts\n/tmp"));
        QCOMPARE(field(s.items().at(0), "fileName"), QStringLiteral("hosts, tmp"));

        // Marked changes are skipped; the next plain copy shows that polling went on.
        QVERIFY(s.copier({QStringLiteral("text/plain=hunter2"), QStringLiteral("org.nspasteboard.ConcealedType=")}));
        QVERIFY(s.copier({QStringLiteral("text/plain=hunter3"), QStringLiteral("x-kde-passwordManagerHint=secret")}));
        QTest::qWait(600);
        s.xclip("plain text");
        QVERIFY(QTest::qWaitFor([&] { return field(s.items().at(0), "plainText") == QLatin1String("plain text"); }, 10000));
        const QJsonArray items = s.items();
        QCOMPARE(items.size(), 4); // the repeated text was absorbed, the secrets never kept
        for (const QJsonValue &item : items)
            QVERIFY(!field(item, "plainText").startsWith(QLatin1String("hunter")));
    }

    void copyingBackIsNotCapturedAgain()
    {
        Session s;
        QVERIFY(s.startApplication());
        s.xclip("older");
        QVERIFY(s.waitForCount(1));
        s.xclip("newer");
        QVERIFY(s.waitForCount(2));
        const QString older = field(s.items().at(1), "id");
        QCOMPARE(s.run({QStringLiteral("copy"), older}).first, 0);
        QCOMPARE(s.clipboardText(), QStringLiteral("older"));
        QTest::qWait(700);
        const QJsonArray items = s.items();
        QCOMPARE(items.size(), 2);
        QCOMPARE(field(items.at(0), "plainText"), QStringLiteral("newer"));
    }

    void pasteGoesIntoTheWindowInFront()
    {
        Session s;
        QVERIFY(s.startApplication());
        const QString id = QString::fromUtf8(
            s.run({QStringLiteral("add"), QStringLiteral("text"), QStringLiteral("\uE001 pasted\u00A0here")}).second).trimmed();
        QProcess *window = s.startProcess(QStringLiteral(KN_TEXT_WINDOW), {});
        QVERIFY(window->waitForReadyRead(10000));
        QVERIFY(window->readLine().startsWith("ready"));
        // The paste goes to the window in front: wait until the window manager made it so.
        QVERIFY(QTest::qWaitFor([&] {
            return s.run({QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}, QStringLiteral("xdotool"))
                .second.trimmed() == "kn-text-window";
        }, 10000));

        QCOMPARE(s.run({QStringLiteral("paste"), id, QStringLiteral("--plain")}).first, 0);
        QByteArray seen;
        QVERIFY(QTest::qWaitFor([&] {
            window->waitForReadyRead(100);
            seen += window->readAll();
            return seen.contains("text:pasted here");
        }, 10000));
    }

    void ownerQuittingGetsTheNewestItemOffered()
    {
        Session s;
        QVERIFY(s.startApplication());
        QProcess *owner = s.copier({QStringLiteral("text/plain=short-lived")});
        QVERIFY(owner);
        QVERIFY(s.waitForCount(1));
        owner->kill();
        owner->waitForFinished();
        QVERIFY(QTest::qWaitFor([&] { return s.clipboardText() == QLatin1String("short-lived"); }, 5000));
        QTest::qWait(600);
        QCOMPARE(s.items().size(), 1);
    }

    void unopenableStoreShowsTheAlertAndQuits()
    {
        Session s;
        const QString folder = s.m_home.filePath(QStringLiteral("data/marrowfieldco/kestrelnote"));
        // A folder where the database should be: not damaged, so nothing is moved aside.
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/Kestrelnote.sqlite")));
        s.m_app.setProcessEnvironment(s.m_env);
        s.m_app.start(QStringLiteral(KN_KESTRELNOTE), {});
        const auto found = s.run({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                                  QStringLiteral("--name"), QStringLiteral("^Kestrelnote$")},
                                 QStringLiteral("xdotool"));
        QCOMPARE(found.first, 0);
        const QByteArray window = found.second.trimmed().split('\n').first();
        QVERIFY(!s.m_app.waitForFinished(300));
        // The one button, "Quit", is the default.
        s.run({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::fromLatin1(window)},
              QStringLiteral("xdotool"));
        s.run({QStringLiteral("key"), QStringLiteral("--window"), QString::fromLatin1(window), QStringLiteral("Return")},
              QStringLiteral("xdotool"));
        QVERIFY(s.m_app.waitForFinished(10000));
        QCOMPARE(s.m_app.exitCode(), 1);
        QVERIFY(QFileInfo(folder + QStringLiteral("/Kestrelnote.sqlite")).isDir());
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/Kestrelnote.sqlite.broken")));
    }

    void secondStartWakesTheFirst()
    {
        Session s;
        QVERIFY(s.startApplication());
        QProcess second;
        second.setProcessEnvironment(s.m_env);
        second.start(QStringLiteral(KN_KESTRELNOTE), {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAllStandardError().contains("already running"));
        // The first one runs on.
        QVERIFY(!s.m_app.waitForFinished(500));
        QCOMPARE(s.run({QStringLiteral("resume")}).first, 0);
    }

    // Logout and service managers stop the application with SIGTERM: it quits in order, and
    // the next start is not mistaken for a second instance.
    void terminationQuitsInOrder()
    {
        Session s;
        QVERIFY(s.startApplication());
        s.xclip("kept across restarts");
        QVERIFY(s.waitForCount(1));
        s.m_app.terminate();
        QVERIFY(s.m_app.waitForFinished(10000));
        QCOMPARE(s.m_app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.m_app.exitCode(), 0);
        QCOMPARE(s.run({QStringLiteral("resume")}).first, 1);

        QVERIFY(s.startApplication());
        QCOMPARE(s.items().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
