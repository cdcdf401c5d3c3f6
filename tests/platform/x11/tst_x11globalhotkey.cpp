#include "platform/x11/X11GlobalHotKey.h"
#include "tests/platform/x11/X11TestSupport.h"

#include <QGuiApplication>
#include <QSignalSpy>

namespace {
const QKeyCombination shiftSuperV{Qt::ShiftModifier | Qt::MetaModifier, Qt::Key_V};
const QKeyCombination ctrlAltV{Qt::ControlModifier | Qt::AltModifier, Qt::Key_V};

void xdotoolKey(const char *keys)
{
    x11test::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QString::fromLatin1(keys)});
}

void setKeyboardLayout(const QStringList &arguments)
{
    x11test::run(QStringLiteral("setxkbmap"), arguments);
}

// Another client grabbing MODIFIERS+v; none if the server refused it.
std::unique_ptr<QProcess> holdElsewhere(const char *modifiers)
{
    return x11test::startClient(QStringLiteral(KN_TEST_KEY_GRABBER),
                                {QStringLiteral("key"), QString::fromLatin1(modifiers), QStringLiteral("v")});
}
} // namespace

class TestX11GlobalHotKey : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pressesArriveInEveryLockState()
    {
        auto hotKey = X11GlobalHotKey::create();
        QVERIFY(hotKey);
        QSignalSpy pressed(hotKey.get(), &GlobalHotKey::pressed);
        QVERIFY(hotKey->registerKey(shiftSuperV));

        xdotoolKey("shift+super+v");
        QTRY_COMPARE(pressed.size(), 1);
        // Other combinations with the same key are not ours.
        xdotoolKey("ctrl+alt+v");
        xdotoolKey("super+v");
        QTest::qWait(200);
        QCOMPARE(pressed.size(), 1);

        xdotoolKey("Num_Lock");
        xdotoolKey("shift+super+v");
        QTRY_COMPARE(pressed.size(), 2);
        xdotoolKey("Caps_Lock");
        xdotoolKey("shift+super+v");
        QTRY_COMPARE(pressed.size(), 3);
        xdotoolKey("Num_Lock");
        xdotoolKey("Caps_Lock");
    }

    // The grab follows the key to wherever a new keyboard layout puts it.
    void aNewKeyboardLayoutMovesTheGrab()
    {
        auto hotKey = X11GlobalHotKey::create();
        QVERIFY(hotKey);
        QSignalSpy pressed(hotKey.get(), &GlobalHotKey::pressed);
        QVERIFY(hotKey->registerKey(shiftSuperV));

        // Dvorak has "v" where US has "."; US "v" types "k" there.
        setKeyboardLayout({QStringLiteral("-layout"), QStringLiteral("us"), QStringLiteral("-variant"), QStringLiteral("dvorak")});
        QVERIFY(QTest::qWaitFor([&] {
            xdotoolKey("shift+super+v");
            return pressed.size() > 0;
        }, 5000));
        const qsizetype presses = pressed.size();
        xdotoolKey("shift+super+k");
        QTest::qWait(200);
        QCOMPARE(pressed.size(), presses);

        setKeyboardLayout({QStringLiteral("-layout"), QStringLiteral("us")});
        QVERIFY(QTest::qWaitFor([&] {
            xdotoolKey("shift+super+v");
            return pressed.size() > presses;
        }, 5000));
        // The old key is another client's to take again.
        hotKey.reset();
        auto other = holdElsewhere("shift+super");
        QVERIFY(other);
        x11test::stopClient(other);
    }

    void reregisteringAndDestructionReleaseTheOldGrab()
    {
        {
            auto hotKey = X11GlobalHotKey::create();
            QSignalSpy pressed(hotKey.get(), &GlobalHotKey::pressed);
            QVERIFY(hotKey->registerKey(shiftSuperV));
            QVERIFY(hotKey->registerKey(ctrlAltV));
            xdotoolKey("shift+super+v");
            QTest::qWait(200);
            QCOMPARE(pressed.size(), 0);
            xdotoolKey("ctrl+alt+v");
            QTRY_COMPARE(pressed.size(), 1);

            auto other = holdElsewhere("shift+super");
            QVERIFY(other);
            x11test::stopClient(other);
            QVERIFY(!holdElsewhere("ctrl+alt")); // the grabber does see a refusal
        }
        auto other = holdElsewhere("ctrl+alt");
        QVERIFY(other);
        x11test::stopClient(other);
    }

    // The shelf shortcut falls back to its second choice on the same object after a refusal.
    void aKeyHeldElsewhereIsRefusedAndNothingStaysGrabbed()
    {
        auto other = holdElsewhere("shift+super");
        QVERIFY(other);
        auto hotKey = X11GlobalHotKey::create();
        QSignalSpy pressed(hotKey.get(), &GlobalHotKey::pressed);
        QVERIFY(!hotKey->registerKey(shiftSuperV));
        QVERIFY(hotKey->registerKey(ctrlAltV));
        xdotoolKey("ctrl+alt+v");
        QTRY_COMPARE(pressed.size(), 1);
        x11test::stopClient(other);

        // Had a variant of the refused key stayed grabbed by us, the other client could not take them all.
        auto again = holdElsewhere("shift+super");
        QVERIFY(again);
        x11test::stopClient(again);
    }
};

QTEST_MAIN(TestX11GlobalHotKey)
#include "tst_x11globalhotkey.moc"
