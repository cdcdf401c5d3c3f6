#include "platform/defaults/UserDefaults.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestUserDefaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void registeredDefaultsAreReadButNeverWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kestrelnote.conf"));
        {
            UserDefaults defaults(path);
            defaults.registerApplicationDefaults();
            QCOMPARE(defaults.integer(SettingsKey::historyLimit), 500);
            QCOMPARE(defaults.string(SettingsKey::activeShortcut), QStringLiteral("⇧⌘V"));
            QVERIFY(!defaults.hasStoredValue(SettingsKey::historyLimit));
        }
        UserDefaults reopened(path);
        QCOMPARE(reopened.integer(SettingsKey::historyLimit), 0);
    }

    void missingIntegersReadZero()
    {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("kestrelnote.conf")));
        QCOMPARE(defaults.integer(SettingsKey::contentHashVersion), 0);
        QCOMPARE(defaults.integer(SettingsKey::sourceAttributionVersion), 0);
    }

    void storedValuesWinOverDefaultsAndSurviveReopening()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kestrelnote.conf"));
        {
            UserDefaults defaults(path);
            defaults.registerApplicationDefaults();
            defaults.setInteger(SettingsKey::historyLimit, 1200);
            defaults.setString(SettingsKey::activeShortcut, QString());
        }
        UserDefaults reopened(path);
        reopened.registerApplicationDefaults();
        QCOMPARE(reopened.integer(SettingsKey::historyLimit), 1200);
        // An empty text is a stored value, not a missing one.
        QCOMPARE(reopened.string(SettingsKey::activeShortcut), QString());
        reopened.remove(SettingsKey::historyLimit);
        QCOMPARE(reopened.integer(SettingsKey::historyLimit), 500);
    }

    void textThatIsNotANumberReadsZero()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kestrelnote.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nhistoryLimit=lots\n");
        file.close();
        UserDefaults defaults(path);
        defaults.registerApplicationDefaults();
        QCOMPARE(defaults.integer(SettingsKey::historyLimit), 0);
    }

    void fileAndFolderArePrivate()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("config/marrowfieldco"));
        UserDefaults defaults(folder + QStringLiteral("/kestrelnote.conf"));
        defaults.setInteger(SettingsKey::historyLimit, 100);
        QCOMPARE(QFile::permissions(folder) & 0x0077, QFile::Permissions());
        QCOMPARE(QFile::permissions(folder + QStringLiteral("/kestrelnote.conf")),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }
};

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
