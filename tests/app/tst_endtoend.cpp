// The real application on a real X server: copies made by other clients land in the history,
// and items go back to the clipboard and into a window.
#include "CliEnvironment.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

class Session
{
public:
    ~Session()
    {
        for (QProcess *process : std::as_const(m_clients)) {
            process->kill();
            process->waitForFinished();
            delete process;
        }
        app.kill();
        app.waitForFinished();
    }

    // "resume" succeeds only once the application answers.
    bool startApplication()
    {
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        home.start(app, {});
        return QTest::qWaitFor([this] { return home("resume").exitCode == 0; }, 15000);
    }

    QJsonArray items() const { return QJsonDocument::fromJson(home("list", "--json").out).array(); }
    bool waitForCount(int n) const { return QTest::qWaitFor([&] { return items().size() == n; }, 10000); }

    CliRun tool(const char *program, const QStringList &args, const QByteArray &input = {}) const
    {
        return home.run(args, input, QString::fromUtf8(program));
    }
    void xclip(const QByteArray &data, const QString &type = u"text/plain"_s) const
    {
        tool("xclip", {u"-selection"_s, u"clipboard"_s, u"-t"_s, type}, data);
    }
    QString clipboardText() const
    {
        return QString::fromUtf8(tool("xclip", {u"-selection"_s, u"clipboard"_s, u"-o"_s}).out);
    }

    QProcess *startClient(const QString &program, const QStringList &args)
    {
        auto *process = new QProcess;
        m_clients.append(process);
        home.start(*process, args, program);
        return process;
    }

    // Another application owning the clipboard with several entries; none if it did not get there.
    QProcess *copier(const QStringList &entries)
    {
        QProcess *process = startClient(QStringLiteral(KN_COPIER), entries);
        return process->waitForReadyRead(10000) && process->readAll().contains("ready") ? process : nullptr;
    }

    CliHome home{CliHome::Display::Kept};
    QProcess app;

private:
    QList<QProcess *> m_clients;
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
        QCOMPARE(field(s.items().at(0), "plainText"), u"plain text"_s);

        QVERIFY(s.copier({u"text/plain=styled"_s, u"text/rtf={\\rtf1 {\\b styled}}"_s}));
        QVERIFY(s.waitForCount(2));
        QVERIFY(s.items().at(0)["rtfData"_L1].isObject());

        QImage image(640, 400, QImage::Format_ARGB32);
        image.fill(Qt::magenta);
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "png"));
        s.xclip(png, u"image/png"_s);
        QVERIFY(s.waitForCount(3));
        QCOMPARE(field(s.items().at(0), "kind"), u"image"_s);

        // Marked changes are skipped; the next plain copy shows that polling went on.
        QVERIFY(s.copier({u"text/plain=hunter2"_s, u"org.nspasteboard.ConcealedType="_s}));
        QVERIFY(s.copier({u"text/plain=hunter3"_s, u"x-kde-passwordManagerHint=secret"_s}));
        QTest::qWait(600);
        s.xclip("plain text");
        QVERIFY(QTest::qWaitFor([&] { return field(s.items().at(0), "plainText") == "plain text"_L1; }, 10000));
        const QJsonArray items = s.items();
        QCOMPARE(items.size(), 3); // the repeated text was absorbed, the secrets never kept
        for (const QJsonValue &item : items)
            QVERIFY(!field(item, "plainText").startsWith("hunter"_L1));
    }

    void itemsGoBackToTheClipboardWithoutBeingCapturedAgain()
    {
        Session s;
        QVERIFY(s.startApplication());
        s.xclip("older");
        QVERIFY(s.waitForCount(1));
        QVERIFY(s.copier({u"text/plain=newer"_s}));
        QVERIFY(s.waitForCount(2));
        QCOMPARE(s.home("copy", field(s.items().at(1), "id")).exitCode, 0);
        QCOMPARE(s.clipboardText(), u"older"_s);
        QTest::qWait(700);
        QCOMPARE(s.items().size(), 2);
        QCOMPARE(field(s.items().at(0), "plainText"), u"newer"_s);

        // An owner quitting leaves the clipboard empty: the newest item is offered in its place.
        QProcess *owner = s.copier({u"text/plain=short-lived"_s});
        QVERIFY(owner);
        QVERIFY(s.waitForCount(3));
        owner->kill();
        owner->waitForFinished();
        QVERIFY(QTest::qWaitFor([&] { return s.clipboardText() == "short-lived"_L1; }, 5000));
        QTest::qWait(600);
        QCOMPARE(s.items().size(), 3);
    }

    void pasteGoesIntoTheWindowInFront()
    {
        Session s;
        QVERIFY(s.startApplication());
        const QString id = s.home("add", "text", u"\uE001 pasted\u00A0here"_s).line();
        QProcess *window = s.startClient(QStringLiteral(KN_TEXT_WINDOW), {});
        QVERIFY(window->waitForReadyRead(10000));
        QVERIFY(window->readLine().startsWith("ready"));
        // The paste goes to the window in front: wait until the window manager made it so.
        QVERIFY(QTest::qWaitFor([&] {
            return s.tool("xdotool", {u"getactivewindow"_s, u"getwindowname"_s}).out.trimmed() == "kn-text-window";
        }, 10000));

        QCOMPARE(s.home("paste", id, "--plain").exitCode, 0);
        QByteArray seen;
        QVERIFY(QTest::qWaitFor([&] {
            window->waitForReadyRead(100);
            seen += window->readAll();
            return seen.contains("text:pasted here");
        }, 10000));
    }

    void unopenableStoreShowsTheAlertAndQuits()
    {
        Session s;
        // A folder where the database should be: not damaged, so nothing is moved aside.
        const QString database = s.home.dataFolder() + u"/Kestrelnote.sqlite"_s;
        QVERIFY(QDir().mkpath(database));
        s.home.start(s.app, {});
        // Asked again until found: xdotool exits on an X error when a window goes away while
        // it walks the windows, which a loaded machine makes likely.
        CliRun found;
        QVERIFY2(QTest::qWaitFor([&] {
                     found = s.tool("xdotool", {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Kestrelnote$"_s});
                     return found.exitCode == 0;
                 }, 20000),
                 found.err.constData());
        const QString window = QString::fromLatin1(found.out.trimmed().split('\n').first());
        QVERIFY(!s.app.waitForFinished(300));
        // The one button, "Quit", is the default.
        s.tool("xdotool", {u"windowactivate"_s, u"--sync"_s, window});
        s.tool("xdotool", {u"key"_s, u"--window"_s, window, u"Return"_s});
        QVERIFY(s.app.waitForFinished(10000));
        QCOMPARE(s.app.exitCode(), 1);
        QVERIFY(QFileInfo(database).isDir());
        QVERIFY(!QFileInfo::exists(database + u".broken"_s));
    }

    // A second start wakes the first; SIGTERM (logout, service managers) quits in order, and
    // the next start is not mistaken for a second instance.
    void oneInstanceThatQuitsInOrder()
    {
        Session s;
        QVERIFY(s.startApplication());
        s.xclip("kept across restarts");
        QVERIFY(s.waitForCount(1));
        QProcess second;
        s.home.start(second, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.readAllStandardError().contains("already running"));
        QVERIFY(!s.app.waitForFinished(500));
        QCOMPARE(s.home("resume").exitCode, 0);

        s.app.terminate();
        QVERIFY(s.app.waitForFinished(10000));
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.app.exitCode(), 0);
        QCOMPARE(s.home("resume").exitCode, 1);
        QVERIFY(s.startApplication());
        QCOMPARE(s.items().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
