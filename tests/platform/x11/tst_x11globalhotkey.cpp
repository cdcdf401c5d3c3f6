#include "platform/x11/X11GlobalHotKey.h"
#include "tests/platform/x11/X11TestSupport.h"

#include <QGuiApplication>
#include <QSignalSpy>

namespace {
const QKeyCombination shiftSuperV{Qt::ShiftModifier | Qt::MetaModifier, Qt::Key_V};
const QKeyCombination ctrlAltV{Qt::ControlModifier | Qt::AltModifier, Qt::Key_V};

void xdotoolKey(const QString &keys)
{
    x11test::run(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
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

        xdotoolKey(QStringLiteral("shift+super+v"));
        QTRY_COMPARE(pressed.size(), 1);
        // Other combinations with the same key are not ours.
        xdotoolKey(QStringLiteral("ctrl+alt+v"));
        xdotoolKey(QStringLiteral("super+v"));
        QTest::qWait(200);
        QCOMPARE(pressed.size(), 1);

        xdotoolKey(QStringLiteral("Num_Lock"));
        xdotoolKey(QStringLiteral("shift+super+v"));
        QTRY_COMPARE(pressed.size(), 2);
        xdotoolKey(QStringLiteral("Caps_Lock"));
        xdotoolKey(QStringLiteral("shift+super+v"));
        QTRY_COMPARE(pressed.size(), 3);
        xdotoolKey(QStringLiteral("Num_Lock"));
        xdotoolKey(QStringLiteral("Caps_Lock"));
    }

    void reregisteringReplacesTheKey()
    {
        auto hotKey = X11GlobalHotKey::create();
        QSignalSpy pressed(hotKey.get(), &GlobalHotKey::pressed);
        QVERIFY(hotKey->registerKey(shiftSuperV));
        QVERIFY(hotKey->registerKey(ctrlAltV));
        xdotoolKey(QStringLiteral("shift+super+v"));
        QTest::qWait(200);
        QCOMPARE(pressed.size(), 0);
        xdotoolKey(QStringLiteral("ctrl+alt+v"));
        QTRY_COMPARE(pressed.size(), 1);
    }

    void aKeyHeldByAnotherClientIsRefusedAndNothingStaysGrabbed()
    {
        auto other = x11test::startClient(QStringLiteral(KN_TEST_KEY_GRABBER),
                                          {QStringLiteral("key"), QStringLiteral("shift+super"), QStringLiteral("v")});
        QVERIFY(other);
        auto hotKey = X11GlobalHotKey::create();
        QVERIFY(!hotKey->registerKey(shiftSuperV));
        x11test::stopClient(other);

        // Had a variant stayed grabbed by us, the other client could not take them all.
        auto again = x11test::startClient(QStringLiteral(KN_TEST_KEY_GRABBER),
                                          {QStringLiteral("key"), QStringLiteral("shift+super"), QStringLiteral("v")});
        QVERIFY(again);
        x11test::stopClient(again);
    }

    void destructionReleasesTheGrab()
    {
        {
            auto hotKey = X11GlobalHotKey::create();
            QVERIFY(hotKey->registerKey(ctrlAltV));
            QProcess refused;
            refused.start(QStringLiteral(KN_TEST_KEY_GRABBER), {QStringLiteral("key"), QStringLiteral("ctrl+alt"), QStringLiteral("v")});
            QTRY_VERIFY(refused.state() == QProcess::NotRunning);
            QCOMPARE(refused.readAllStandardOutput(), QByteArray("refused\n"));
        }
        auto other = x11test::startClient(QStringLiteral(KN_TEST_KEY_GRABBER),
                                          {QStringLiteral("key"), QStringLiteral("ctrl+alt"), QStringLiteral("v")});
        QVERIFY(other);
        x11test::stopClient(other);
    }
};

QTEST_MAIN(TestX11GlobalHotKey)
#include "tst_x11globalhotkey.moc"
