#include "platform/defaults/UserDefaults.h"

#include "platform/log/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

UserDefaults::UserDefaults()
    : UserDefaults(defaultFilePath())
{
}

UserDefaults::UserDefaults(const QString &filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{
    makePrivate();
}

QString UserDefaults::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/marrowfieldco/kestrelnote.conf");
}

void UserDefaults::makePrivate()
{
    const QFileInfo info(m_settings->fileName());
    QDir().mkpath(info.absolutePath());
    QFile::setPermissions(info.absolutePath(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (info.exists())
        QFile::setPermissions(info.absoluteFilePath(), QFile::ReadOwner | QFile::WriteOwner);
}

void UserDefaults::registerDefaults(const QVariantMap &defaults)
{
    QMutexLocker locker(&m_mutex);
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it)
        m_defaults.insert(it.key(), it.value());
}

void UserDefaults::registerApplicationDefaults()
{
    registerDefaults({
        {SettingsKey::historyLimit, 500},
        {SettingsKey::activeShortcut, QStringLiteral("⇧⌘V")},
    });
}

QVariant UserDefaults::value(const QString &key) const
{
    QMutexLocker locker(&m_mutex);
    // Another process (the command line) may have written the file: QSettings reads it
    // again only on sync, which costs one stat when it did not change.
    m_settings->sync();
    const QVariant stored = m_settings->value(key);
    return stored.isValid() ? stored : m_defaults.value(key);
}

qint64 UserDefaults::integer(const QString &key) const
{
    // INI values come back as text; anything that is not a whole number reads 0.
    bool ok = false;
    const qint64 number = value(key).toLongLong(&ok);
    return ok ? number : 0;
}

QString UserDefaults::string(const QString &key) const
{
    return value(key).toString();
}

bool UserDefaults::hasStoredValue(const QString &key) const
{
    QMutexLocker locker(&m_mutex);
    m_settings->sync();
    return m_settings->contains(key);
}

void UserDefaults::setInteger(const QString &key, qint64 value)
{
    {
        QMutexLocker locker(&m_mutex);
        m_settings->setValue(key, value);
        m_settings->sync();
    }
    makePrivate();
}

void UserDefaults::setString(const QString &key, const QString &value)
{
    {
        QMutexLocker locker(&m_mutex);
        m_settings->setValue(key, value);
        m_settings->sync();
    }
    makePrivate();
}

void UserDefaults::remove(const QString &key)
{
    QMutexLocker locker(&m_mutex);
    m_settings->remove(key);
    m_settings->sync();
}

void UserDefaults::sync()
{
    QMutexLocker locker(&m_mutex);
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError)
        klog::error(klog::Category::App, QStringLiteral("settings file could not be read or written: %1")
                                             .arg(m_settings->fileName()));
}
