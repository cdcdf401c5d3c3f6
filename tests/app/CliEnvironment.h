#pragma once

// The command line run as a separate process with its own private home: data, settings
// and the runtime folder under a temporary directory, logging to stderr, no display.

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

inline void makePrivateRuntimeFolder(const QTemporaryDir &home)
{
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(home.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

inline QProcessEnvironment cliEnvironment(const QTemporaryDir &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("KESTRELNOTE_LOG_STDERR"), QStringLiteral("1"));
    env.remove(QStringLiteral("DISPLAY"));
    return env;
}
