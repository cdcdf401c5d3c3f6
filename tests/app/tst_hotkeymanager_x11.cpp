#include "app/HotKeyManager.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/x11/X11GlobalHotKey.h"
#include "tests/platform/x11/X11TestSupport.h"

#include <QGuiApplication>
#include <QTemporaryDir>

// The shelf shortcut against a real X server, with another client holding keys.
class TestHotKeyManagerX11 : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QProcess> hold(const QString &modifiers)
    {
        return x11test::startClient(QStringLiteral(KN_TEST_KEY_GRABBER),
                                    {QStringLiteral("key"), modifiers, QStringLiteral("v")});
    }

private Q_SLOTS:
    void fallsBackWhenAnotherClientHoldsTheFirstChoice()
    {
        auto first = hold(QStringLiteral("shift+super"));
        QVERIFY(first);
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("settings.conf")));
        auto hotKey = X11GlobalHotKey::create();
        QVERIFY(hotKey);
        int presses = 0;
        {
            HotKeyManager manager(*hotKey, defaults);
            manager.setOnHotKey([&presses] { ++presses; });
            manager.registerShelfShortcut();
            QCOMPARE(defaults.string(SettingsKey::activeShortcut), QStringLiteral("⌃⇧V"));

            x11test::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+v")});
            QTRY_COMPARE(presses, 1);
            // The other client's key is not ours.
            x11test::run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("shift+super+v")});
            QTest::qWait(200);
            QCOMPARE(presses, 1);
        }

        // With the second choice held too, there is no shortcut at all.
        auto second = hold(QStringLiteral("ctrl+alt"));
        QVERIFY(second);
        klog::Recorder log;
        HotKeyManager manager(*hotKey, defaults);
        manager.registerShelfShortcut();
        QCOMPARE(defaults.string(SettingsKey::activeShortcut), QString());
        QCOMPARE(log.messages(klog::Category::App, klog::Level::Error),
                 QStringList{QStringLiteral("could not register any global shortcut")});
        x11test::stopClient(first);
        x11test::stopClient(second);
    }
};

QTEST_MAIN(TestHotKeyManagerX11)
#include "tst_hotkeymanager_x11.moc"
