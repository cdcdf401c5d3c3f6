#include "platform/defaults/UserDefaults.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestUserDefaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path() const { return m_dir->filePath(QStringLiteral("kestrelnote.conf")); }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void registeredDefaultsAreReadButNeverWrittenAndStoredValuesWin()
    {
        {
            UserDefaults defaults(path());
            defaults.registerApplicationDefaults();
            QCOMPARE(defaults.integer(SettingsKey::historyLimit), 500);
            QCOMPARE(defaults.string(SettingsKey::activeShortcut), QStringLiteral("⇧⌘V"));
            QVERIFY(!defaults.hasStoredValue(SettingsKey::historyLimit));
            defaults.setInteger(SettingsKey::historyLimit, 1200);
            defaults.setString(SettingsKey::activeShortcut, QString());
        }
        UserDefaults reopened(path());
        reopened.registerApplicationDefaults();
        QCOMPARE(reopened.integer(SettingsKey::historyLimit), 1200);
        // An empty text is a stored value, not a missing one.
        QCOMPARE(reopened.string(SettingsKey::activeShortcut), QString());
        reopened.remove(SettingsKey::historyLimit);
        QCOMPARE(reopened.integer(SettingsKey::historyLimit), 500);
    }

    // The command line changes settings while the application runs: the running process
    // reads the new value, not the one it cached.
    void changesWrittenByAnotherProcessAreRead()
    {
        UserDefaults defaults(path());
        defaults.registerApplicationDefaults();
        defaults.setInteger(SettingsKey::historyLimit, 700);
        QCOMPARE(defaults.integer(SettingsKey::historyLimit), 700);

        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[General]\nhistoryLimit=1200\nactiveShortcut=\n");
        file.close();
        QCOMPARE(defaults.integer(SettingsKey::historyLimit), 1200);
        QVERIFY(defaults.hasStoredValue(SettingsKey::activeShortcut));
        QCOMPARE(defaults.string(SettingsKey::activeShortcut), QString());
    }

    void textThatIsNotANumberReadsZero()
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[General]\nhistoryLimit=lots\n");
        file.close();
        UserDefaults defaults(path());
        defaults.registerApplicationDefaults();
        QCOMPARE(defaults.integer(SettingsKey::historyLimit), 0);
    }

    void fileAndFolderArePrivate()
    {
        const QString folder = m_dir->filePath(QStringLiteral("config/marrowfieldco"));
        UserDefaults defaults(folder + QStringLiteral("/kestrelnote.conf"));
        defaults.setInteger(SettingsKey::historyLimit, 100);
        QCOMPARE(QFile::permissions(folder) & 0x0077, QFile::Permissions());
        QCOMPARE(QFile::permissions(folder + QStringLiteral("/kestrelnote.conf")),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }
};

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
