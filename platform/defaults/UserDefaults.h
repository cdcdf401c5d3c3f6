#pragma once

#include <QMutex>
#include <QSettings>
#include <QString>
#include <QVariantMap>

#include <memory>

// The keys of the per-user settings.
namespace SettingsKey {
inline const QString historyLimit = QStringLiteral("historyLimit");
inline const QString activeShortcut = QStringLiteral("activeShortcut");
inline const QString sourceAttributionVersion = QStringLiteral("sourceAttributionVersion");
inline const QString contentHashVersion = QStringLiteral("contentHashVersion");
}

// Per-user key-value settings over QSettings with registered defaults: a key that was
// never written reads its registered default, and a missing integer without one reads 0.
// Defaults are never written back. Safe to use from several threads.
class UserDefaults
{
public:
    // The user's settings file (XDG_CONFIG_HOME/marrowfieldco/kestrelnote.conf).
    UserDefaults();
    // A settings file of its own, for tests and tools.
    explicit UserDefaults(const QString &filePath);

    UserDefaults(const UserDefaults &) = delete;
    UserDefaults &operator=(const UserDefaults &) = delete;

    static QString defaultFilePath();

    void registerDefaults(const QVariantMap &defaults);
    // The defaults the application registers at start.
    void registerApplicationDefaults();

    qint64 integer(const QString &key) const;
    QString string(const QString &key) const;
    QVariant value(const QString &key) const;
    bool hasStoredValue(const QString &key) const;

    void setInteger(const QString &key, qint64 value);
    void setString(const QString &key, const QString &value);
    void remove(const QString &key);

    // Writes pending changes to disk and reloads changes made by other processes.
    void sync();

private:
    void makePrivate();

    mutable QMutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_defaults;
};
