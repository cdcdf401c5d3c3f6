#include "platform/log/Log.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11PasteKeystrokePoster.h"
#include "tests/platform/x11/X11TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>

Q_DECLARE_METATYPE(PasteKeystrokeOutcome)

// Pasting into real clients under openbox: a Qt text field and xterm.
class TestX11PasteKeystrokePoster : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<X11PasteKeystrokePoster> m_poster;
    std::unique_ptr<X11Pasteboard> m_pasteboard;

    // The text window, once the window manager made it the active one.
    std::unique_ptr<QProcess> startTextWindow()
    {
        auto window = x11test::startClient(QStringLiteral(KN_TEST_TEXT_WINDOW), {});
        if (!window || !QTest::qWaitFor([] {
                return x11test::run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")})
                           .trimmed() == "kn-text-window";
            }, 5000))
            return nullptr;
        QTest::qWait(200); // a user stays a moment in a window before calling up the shelf
        return window;
    }

    static QByteArray activeWindowId()
    {
        return x11test::run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed();
    }

    static QByteArray activeWindowClass()
    {
        const QByteArray id = x11test::run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed();
        if (id.isEmpty())
            return {};
        return x11test::run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::fromLatin1(id), QStringLiteral("WM_CLASS")});
    }

    void copy(const QString &text, bool primary)
    {
        m_pasteboard->clearContents();
        if (primary)
            m_pasteboard->writeAlsoToPrimarySelection();
        m_pasteboard->setString(text, QStringLiteral("text/plain;charset=utf-8"));
        m_pasteboard->changeCount();
    }

    PasteKeystrokeOutcome postAndWait()
    {
        QSignalSpy finished(m_poster.get(), &PasteKeystrokePoster::pasteFinished);
        m_poster->postPaste();
        if (!finished.wait(5000))
            return PasteKeystrokeOutcome::Unavailable;
        return finished.first().first().value<PasteKeystrokeOutcome>();
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<PasteKeystrokeOutcome>();
        m_poster = X11PasteKeystrokePoster::create();
        m_pasteboard = X11Pasteboard::create();
        QVERIFY(m_poster && m_pasteboard);
        QVERIFY(m_poster->isAvailable());
    }

    void cleanupTestCase()
    {
        m_poster.reset();
        m_pasteboard.reset();
    }

    // Our window takes the focus, as the shelf does, then goes away again; the target
    // may be remembered before or while ours is active.
    void pastesIntoTheWindowActiveBeforeOurs_data()
    {
        QTest::addColumn<bool>("rememberWhileOursIsActive");
        QTest::newRow("remembered before") << false;
        QTest::newRow("remembered while ours is active") << true;
    }

    void pastesIntoTheWindowActiveBeforeOurs()
    {
        QFETCH(bool, rememberWhileOursIsActive);
        auto target = startTextWindow();
        QVERIFY(target);
        if (!rememberWhileOursIsActive)
            m_poster->rememberTargetWindow();
        QWidget ours;
        ours.show();
        ours.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&ours, 5000));
        if (rememberWhileOursIsActive)
            m_poster->rememberTargetWindow();
        QVERIFY(!m_poster->targetReadsPrimarySelection());
        copy(QStringLiteral("pasted by kestrelnote"), false);
        ours.hide();

        QCOMPARE(postAndWait(), PasteKeystrokeOutcome::Sent);
        QVERIFY(x11test::fieldShows(*target, QStringLiteral("pasted by kestrelnote")));
        x11test::stopClient(target);
    }

    void waitsForTheUsersModifierKeys()
    {
        auto target = startTextWindow();
        QVERIFY(target);
        m_poster->rememberTargetWindow();
        copy(QStringLiteral("after super"), false);
        // Super+Ctrl+V pastes nothing in a text field: the keystroke must wait for the
        // user to let go of Super.
        x11test::run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("super")});
        QSignalSpy finished(m_poster.get(), &PasteKeystrokePoster::pasteFinished);
        m_poster->postPaste();
        QTest::qWait(400);
        QCOMPARE(finished.size(), 0);
        x11test::run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("super")});
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(x11test::fieldShows(*target, QStringLiteral("after super")));
        x11test::stopClient(target);
    }

    void xtermGetsShiftInsertAndThePrimarySelection()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("typed"));
        const QString text = QStringLiteral("echo from primary");
        QProcess xterm;
        xterm.start(QStringLiteral("xterm"), {QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                                              QStringLiteral("stty -icanon -echo; head -c %1 > %2").arg(text.size()).arg(out)});
        QTRY_VERIFY_WITH_TIMEOUT(activeWindowClass().contains("\"XTerm\""), 8000);
        QTest::qWait(300); // the shell inside sets up the terminal
        m_poster->rememberTargetWindow();
        QVERIFY(m_poster->targetReadsPrimarySelection());
        copy(text, m_poster->targetReadsPrimarySelection());
        QCOMPARE(postAndWait(), PasteKeystrokeOutcome::Sent);
        QTRY_VERIFY_WITH_TIMEOUT(xterm.state() == QProcess::NotRunning, 5000);
        QFile typed(out);
        QVERIFY(typed.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(typed.readAll()), text);
    }

    void aVanishedTargetIsSkipped()
    {
        auto target = startTextWindow();
        QVERIFY(target);
        m_poster->rememberTargetWindow();
        x11test::stopClient(target);
        QTest::qWait(200);
        klog::Recorder log;
        QCOMPARE(postAndWait(), PasteKeystrokeOutcome::TargetGone);
        QCOMPARE(log.messages(klog::Level::Error).size(), 1);
    }

    // The target closes while the user still holds a modifier: the keystroke must not go to
    // the window that has the focus afterwards.
    void aTargetClosedWhileModifiersAreHeldGetsNoKeystroke()
    {
        auto other = startTextWindow();
        QVERIFY(other);
        const QByteArray otherId = activeWindowId();
        auto target = x11test::startClient(QStringLiteral(KN_TEST_TEXT_WINDOW), {});
        QVERIFY(target);
        QTRY_VERIFY_WITH_TIMEOUT(!activeWindowId().isEmpty() && activeWindowId() != otherId, 5000);
        const QByteArray targetId = activeWindowId();
        QTest::qWait(200);
        m_poster->rememberTargetWindow();
        copy(QStringLiteral("meant for the closed window"), false);

        x11test::run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("super")});
        QSignalSpy finished(m_poster.get(), &PasteKeystrokePoster::pasteFinished);
        m_poster->postPaste();
        QTest::qWait(300); // the poster is now waiting for the key to be let go
        x11test::stopClient(target);
        QTRY_VERIFY_WITH_TIMEOUT(activeWindowId() != targetId, 5000);
        klog::Recorder log;
        x11test::run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("super")});
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
        QCOMPARE(finished.first().first().value<PasteKeystrokeOutcome>(), PasteKeystrokeOutcome::TargetGone);
        QCOMPARE(log.messages(klog::Level::Error).size(), 1);
        x11test::stopClient(other);
    }

    // A synthetic keystroke goes to whichever client holds the keyboard, not to the target.
    void aKeyboardHeldByAnotherClientGetsNoKeystroke()
    {
        auto target = startTextWindow();
        QVERIFY(target);
        m_poster->rememberTargetWindow();
        copy(QStringLiteral("not for the prompt"), false);
        auto prompt = x11test::startClient(QStringLiteral(KN_TEST_KEY_GRABBER), {QStringLiteral("keyboard")});
        QVERIFY(prompt);
        klog::Recorder log;
        QCOMPARE(postAndWait(), PasteKeystrokeOutcome::KeyboardHeld);
        QCOMPARE(log.messages(klog::Level::Error).size(), 1);
        QTest::qWait(200);
        QCOMPARE(prompt->readAll(), QByteArray());
        x11test::stopClient(prompt);

        // Once the prompt is gone the paste goes through.
        QCOMPARE(postAndWait(), PasteKeystrokeOutcome::Sent);
        QVERIFY(x11test::fieldShows(*target, QStringLiteral("not for the prompt")));
        x11test::stopClient(target);
    }

    void secureInputIsAnotherClientsKeyboardGrab()
    {
        QVERIFY(!m_poster->isSecureInputActive());
        // The probe lets go of the keyboard at once: another client can grab it right after.
        auto prompt = x11test::startClient(QStringLiteral(KN_TEST_KEY_GRABBER), {QStringLiteral("keyboard")});
        QVERIFY(prompt);
        QVERIFY(m_poster->isSecureInputActive());
        x11test::stopClient(prompt);
        QTRY_VERIFY(!m_poster->isSecureInputActive());
    }
};

QTEST_MAIN(TestX11PasteKeystrokePoster)
#include "tst_x11pastekeystrokeposter.moc"
