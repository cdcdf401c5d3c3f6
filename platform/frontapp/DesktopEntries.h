#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QFileInfo;

// What the application's shortcut file (.desktop) says about it.
struct DesktopEntry {
    QString id;   // the desktop file id without ".desktop", e.g. "org.kde.kate"
    QString name; // Name, localized for the locale the index was made with
    QString startupWmClass;
    QString program; // the file name of the program that Exec (or TryExec) starts

    bool operator==(const DesktopEntry &) const = default;
};

// Parses one desktop entry; none unless it is an application that is not hidden.
std::optional<DesktopEntry> parseDesktopEntry(const QByteArray &contents, const QString &id,
                                              const QString &locale);

// All desktop entries in the applications folders, found by the window they belong to.
// Matching follows GNOME Shell's window tracker: StartupWMClass against the WM_CLASS
// instance, then the class; then "<instance>.desktop" and "<class>.desktop", verbatim and
// lower-cased with spaces as dashes, also behind the vendor prefixes gnome-, fedora-,
// mozilla-, debian-; last the program the window's process runs, when only one entry
// starts it. Answers are cached; the folders (and their subfolders, a few levels deep)
// are read again when one of them has changed (looked at every few seconds).
class DesktopEntryIndex
{
public:
    // Folders in order of precedence; an id found earlier hides the same id later.
    DesktopEntryIndex(QStringList applicationDirs, QString locale);

    // $XDG_DATA_HOME/applications, then $XDG_DATA_DIRS/*/applications.
    static QStringList defaultApplicationDirs();
    // The locale desktop entries are localized for: LC_ALL, LC_MESSAGES or LANG.
    static QString messagesLocale();

    std::optional<DesktopEntry> match(const QString &instance, const QString &wmClass,
                                      const QString &program);

private:
    void rescanIfChanged();
    void scan();
    void addEntry(const QString &root, const QFileInfo &file);
    std::optional<DesktopEntry> find(const QString &instance, const QString &wmClass,
                                     const QString &program) const;
    const DesktopEntry *byBasename(const QString &name) const;

    QStringList m_dirs;
    QString m_locale;
    QList<DesktopEntry> m_entries;
    QHash<QString, qsizetype> m_byId;
    QHash<QString, qsizetype> m_byWmClass;
    QHash<QString, qsizetype> m_byProgram;
    QHash<QString, QDateTime> m_scannedDirs;
    QElapsedTimer m_sinceCheck;
    QHash<QString, std::optional<DesktopEntry>> m_answers;
};
