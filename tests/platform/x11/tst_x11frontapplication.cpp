#include "platform/x11/X11FrontApplication.h"
#include "tests/platform/x11/X11TestSupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

namespace {

// Stands in for the desktop's screen saver on the test's private session bus.
class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    bool active = false;

public Q_SLOTS:
    bool GetActive() { return active; }
};

} // namespace

// Runs with openbox (for _NET_ACTIVE_WINDOW) and a private session bus.
class TestX11FrontApplication : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dataHome;
    std::unique_ptr<X11FrontApplication> m_front;

    std::unique_ptr<QProcess> startWindow(const QString &program, const QStringList &arguments = {})
    {
        auto process = std::make_unique<QProcess>();
        process->start(program, arguments);
        if (!process->waitForStarted())
            return nullptr;
        return process;
    }

    // Waits until the front application's name is the expected one.
    bool waitForFront(const std::optional<QString> &name)
    {
        return QTest::qWaitFor([&] {
            const std::optional<FrontApplication> front = m_front->frontApplication();
            return (front ? front->localizedName : std::nullopt) == name;
        }, 8000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Desktop entries: ours in XDG_DATA_HOME, the system's (xterm's) in /usr/share.
        QDir().mkpath(m_dataHome.filePath(QStringLiteral("applications")));
        QFile entry(m_dataHome.filePath(QStringLiteral("applications/org.example.Target.desktop")));
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Target Editor\nName[de]=Zieleditor\n"
                    "StartupWMClass=KnTarget\nExec=target-editor %F\n");
        entry.close();
        qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());
        qputenv("XDG_DATA_DIRS", "/usr/share");
        qputenv("LC_ALL", "de_DE.UTF-8");
        m_front = X11FrontApplication::create();
        QVERIFY(m_front);
    }

    void cleanupTestCase() { m_front.reset(); }

    void namesTheActiveWindowsApplication()
    {
        auto target = startWindow(QStringLiteral(KN_TEST_TEXT_WINDOW), {QStringLiteral("--class"), QStringLiteral("KnTarget")});
        QVERIFY(waitForFront(QStringLiteral("Zieleditor")));
        QCOMPARE(m_front->frontApplication().value_or(FrontApplication{}).bundleIdentifier, QStringLiteral("org.example.Target"));

        // Without a desktop entry: the class is the name and there is no identifier.
        auto unknown = startWindow(QStringLiteral(KN_TEST_TEXT_WINDOW), {QStringLiteral("--class"), QStringLiteral("NoEntry")});
        QVERIFY(waitForFront(QStringLiteral("NoEntry")));
        QCOMPARE(m_front->frontApplication().value_or(FrontApplication{}).bundleIdentifier, std::nullopt);

        auto xterm = startWindow(QStringLiteral("xterm"));
        QVERIFY(waitForFront(QStringLiteral("XTerm")));
        QCOMPARE(m_front->frontApplication().value_or(FrontApplication{}).bundleIdentifier, QStringLiteral("debian-xterm"));

        // Our own window taking focus leaves xterm in front.
        QWidget ours;
        ours.setWindowTitle(QStringLiteral("ours"));
        ours.show();
        ours.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&ours, 5000));
        QTest::qWait(100);
        const std::optional<FrontApplication> front = m_front->frontApplication();
        QVERIFY(front);
        QCOMPARE(front->localizedName, QStringLiteral("XTerm"));
        ours.hide();

        for (auto *process : {&target, &unknown, &xterm})
            x11test::stopClient(*process);
    }

    void aClassWrittenAsUtf8IsRead()
    {
        auto window = startWindow(QStringLiteral(KN_TEST_TEXT_WINDOW), {QStringLiteral("--class"), QStringLiteral("Other")});
        QVERIFY(waitForFront(QStringLiteral("Other")));
        const QString id = QString::fromLatin1(x11test::run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed());
        x11test::run(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("-f"), QStringLiteral("WM_CLASS"),
                                               QStringLiteral("8u"), QStringLiteral("-set"), QStringLiteral("WM_CLASS"),
                                               QStringLiteral("KnTarget")});
        QVERIFY(waitForFront(QStringLiteral("Zieleditor")));
        x11test::stopClient(window);
    }

    // The X screen saver and the desktop's lock (on the session bus) both hide the front window.
    void nothingWhileTheScreenIsLocked()
    {
        QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("screensaver"));
        QVERIFY(service.isConnected());
        FakeScreenSaver screenSaver;
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &screenSaver, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
        m_front = X11FrontApplication::create();
        auto target = startWindow(QStringLiteral(KN_TEST_TEXT_WINDOW), {QStringLiteral("--class"), QStringLiteral("KnTarget")});
        QVERIFY(waitForFront(QStringLiteral("Zieleditor")));

        x11test::run(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("activate")});
        QVERIFY(waitForFront(std::nullopt));
        x11test::run(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")});
        QVERIFY(waitForFront(QStringLiteral("Zieleditor")));

        screenSaver.active = true;
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                         QStringLiteral("org.freedesktop.ScreenSaver"),
                                                         QStringLiteral("ActiveChanged"));
        signal << true;
        QVERIFY(service.send(signal));
        QVERIFY(waitForFront(std::nullopt));
        screenSaver.active = false;
        signal.setArguments({false});
        QVERIFY(service.send(signal));
        QVERIFY(waitForFront(QStringLiteral("Zieleditor")));

        m_front.reset();
        x11test::stopClient(target);
        QDBusConnection::disconnectFromBus(QStringLiteral("screensaver"));
    }
};

QTEST_MAIN(TestX11FrontApplication)
#include "tst_x11frontapplication.moc"
