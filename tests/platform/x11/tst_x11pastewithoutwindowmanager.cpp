#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11PasteKeystrokePoster.h"
#include "tests/platform/x11/X11TestSupport.h"

#include <QApplication>
#include <QSignalSpy>
#include <QWidget>

Q_DECLARE_METATYPE(PasteKeystrokeOutcome)

// Without an EWMH window manager the target is the window holding the input focus, and
// it gets the focus back with SetInputFocus.
class TestX11PasteWithoutWindowManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pastesIntoTheWindowThatHadTheFocus()
    {
        qRegisterMetaType<PasteKeystrokeOutcome>();
        auto poster = X11PasteKeystrokePoster::create();
        auto pasteboard = X11Pasteboard::create();
        QVERIFY(poster && pasteboard);
        auto target = x11test::startClient(QStringLiteral(KN_TEST_TEXT_WINDOW), {});
        QVERIFY(target);
        // Without a window manager, the focus is where the window put it.
        QTRY_COMPARE(x11test::run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus"), QStringLiteral("getwindowname")}).trimmed(),
                     QByteArray("kn-text-window"));

        // Remembered as the shelf is about to show (nobody reports focus changes here).
        poster->rememberTargetWindow();
        QWidget ours;
        ours.show();
        ours.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&ours, 5000));
        pasteboard->clearContents();
        pasteboard->setString(QStringLiteral("no window manager"), QStringLiteral("text/plain;charset=utf-8"));
        pasteboard->changeCount();
        ours.hide();

        QSignalSpy finished(poster.get(), &PasteKeystrokePoster::pasteFinished);
        poster->postPaste();
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().value<PasteKeystrokeOutcome>(), PasteKeystrokeOutcome::Sent);
        QVERIFY(x11test::fieldShows(*target, QStringLiteral("no window manager")));
        x11test::stopClient(target);
    }
};

QTEST_MAIN(TestX11PasteWithoutWindowManager)
#include "tst_x11pastewithoutwindowmanager.moc"
