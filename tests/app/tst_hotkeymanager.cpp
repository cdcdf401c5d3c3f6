#include "app/HotKeyManager.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/fake/FakeGlobalHotKey.h"
#include "platform/log/Log.h"

#include <QTemporaryDir>
#include <QTest>

class TestHotKeyManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shelfShortcutFallsBack_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QList<QKeyCombination>>("heldElsewhere");
        QTest::addColumn<QString>("activeShortcut");
        QTest::addColumn<QStringList>("infoLines");
        QTest::addColumn<QStringList>("errorLines");
        QTest::addColumn<QString>("shown");

        QTest::newRow("both free") << QString() << QList<QKeyCombination>{} << QStringLiteral("⇧⌘V")
                                   << QStringList{QStringLiteral("registered ⇧⌘V")} << QStringList{}
                                   << QStringLiteral("Shift+Super+V");
        QTest::newRow("first held") << QString() << QList<QKeyCombination>{HotKeyManager::firstChoice} << QStringLiteral("⌃⇧V")
                                    << QStringList{QStringLiteral("⇧⌘V is taken by another app (Paste?) — using ⌃⇧V instead")}
                                    << QStringList{} << QStringLiteral("Ctrl+Alt+V");
        QTest::newRow("both held") << QString() << QList<QKeyCombination>{HotKeyManager::firstChoice, HotKeyManager::secondChoice}
                                   << QString() << QStringList{}
                                   << QStringList{QStringLiteral("could not register any global shortcut")} << QString();
        QTest::newRow("an earlier fallback does not stop the first choice")
            << HotKeyManager::secondChoiceName << QList<QKeyCombination>{} << QStringLiteral("⇧⌘V")
            << QStringList{QStringLiteral("registered ⇧⌘V")} << QStringList{} << QStringLiteral("Shift+Super+V");
    }

    void shelfShortcutFallsBack()
    {
        QFETCH(QString, stored);
        QFETCH(QList<QKeyCombination>, heldElsewhere);
        QFETCH(QString, activeShortcut);
        QFETCH(QStringList, infoLines);
        QFETCH(QStringList, errorLines);
        QFETCH(QString, shown);

        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("settings.conf")));
        defaults.registerApplicationDefaults();
        if (!stored.isEmpty())
            defaults.setString(SettingsKey::activeShortcut, stored);
        FakeGlobalHotKey hotKey;
        for (const QKeyCombination combination : heldElsewhere)
            hotKey.holdElsewhere(combination);
        klog::Recorder log;
        HotKeyManager manager(hotKey, defaults);
        manager.registerShelfShortcut();

        QCOMPARE(defaults.string(SettingsKey::activeShortcut), activeShortcut);
        QVERIFY(defaults.hasStoredValue(SettingsKey::activeShortcut));
        QCOMPARE(log.messages(klog::Category::App, klog::Level::Info), infoLines);
        QCOMPARE(log.messages(klog::Category::App, klog::Level::Error), errorLines);
        QCOMPARE(HotKeyManager::displayText(defaults.string(SettingsKey::activeShortcut)), shown);
        QCOMPARE(hotKey.registered().has_value(), !activeShortcut.isEmpty());
        QCOMPARE(hotKey.attempts().first(), HotKeyManager::firstChoice);
    }

    void registeringTwiceKeepsOnlyTheSecondAndOneHandler()
    {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("settings.conf")));
        FakeGlobalHotKey hotKey;
        int calls = 0;
        {
            HotKeyManager manager(hotKey, defaults);
            QVERIFY(manager.registerHotKey(HotKeyManager::firstChoice));
            QVERIFY(hotKey.press()); // no action set yet: nothing happens
            manager.setOnHotKey([&calls] { ++calls; });
            QVERIFY(manager.registerHotKey(HotKeyManager::secondChoice));
            QCOMPARE(hotKey.registered(), HotKeyManager::secondChoice);
            QVERIFY(hotKey.press());
            QCOMPARE(calls, 1);
        }
        // Destruction unregisters.
        QVERIFY(!hotKey.registered());
        QVERIFY(!hotKey.press());
        QCOMPARE(calls, 1);
    }

    void displayTextNamesEveryModifier()
    {
        const QKeyCombination all(Qt::ShiftModifier | Qt::MetaModifier | Qt::ControlModifier | Qt::AltModifier, Qt::Key_F5);
        QCOMPARE(HotKeyManager::displayText(all), QStringLiteral("Ctrl+Alt+Shift+Super+F5"));
    }
};

QTEST_MAIN(TestHotKeyManager)
#include "tst_hotkeymanager.moc"
