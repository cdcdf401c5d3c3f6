#include "platform/frontapp/DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <utility>

namespace {

// Larger files are not desktop entries worth reading.
constexpr qint64 maxEntryBytes = 256 * 1024;
constexpr qint64 recheckIntervalMs = 3000;
// Entries sit at most a few folders deep (wine's are four); a link to a large tree must not
// keep the main thread reading it.
constexpr int maxFolderDepth = 6;
constexpr qsizetype maxFoldersPerRoot = 200;

QString unescape(const QString &value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's': result.append(QLatin1Char(' ')); break;
        case 'n': result.append(QLatin1Char('\n')); break;
        case 't': result.append(QLatin1Char('\t')); break;
        case 'r': result.append(QLatin1Char('\r')); break;
        default: result.append(next); break;
        }
    }
    return result;
}

// The locale keys to try, best first: lang_COUNTRY@MODIFIER, lang_COUNTRY, lang@MODIFIER, lang.
QStringList localeKeys(const QString &locale)
{
    QString rest = locale;
    QString modifier;
    if (const qsizetype at = rest.indexOf(QLatin1Char('@')); at >= 0) {
        modifier = rest.mid(at + 1);
        rest.truncate(at);
    }
    if (const qsizetype dot = rest.indexOf(QLatin1Char('.')); dot >= 0)
        rest.truncate(dot);
    QString lang = rest;
    QString country;
    if (const qsizetype underscore = rest.indexOf(QLatin1Char('_')); underscore >= 0) {
        lang = rest.left(underscore);
        country = rest.mid(underscore + 1);
    }
    if (lang.isEmpty() || lang == QLatin1String("C") || lang == QLatin1String("POSIX"))
        return {};
    QStringList keys;
    if (!country.isEmpty() && !modifier.isEmpty())
        keys << lang + QLatin1Char('_') + country + QLatin1Char('@') + modifier;
    if (!country.isEmpty())
        keys << lang + QLatin1Char('_') + country;
    if (!modifier.isEmpty())
        keys << lang + QLatin1Char('@') + modifier;
    keys << lang;
    return keys;
}

// Exec's arguments: separated by spaces, a double-quoted one may hold spaces, and inside
// quotes a backslash escapes the next character.
QStringList execArguments(const QString &exec)
{
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('"'))
                quoted = false;
            else if (c == QLatin1Char('\\') && i + 1 < exec.size())
                current.append(exec.at(++i));
            else
                current.append(c);
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArgument)
                arguments.append(std::exchange(current, QString()));
            inArgument = false;
            continue;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else {
            current.append(c);
        }
        inArgument = true;
    }
    if (inArgument)
        arguments.append(current);
    return arguments;
}

// The file name of the program Exec starts, past an "env" with its options and settings.
QString programOf(const QString &exec)
{
    const QStringList arguments = execArguments(exec);
    bool afterEnv = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (!afterEnv && QFileInfo(argument).fileName() == QLatin1String("env")) {
            afterEnv = true;
            continue;
        }
        if (afterEnv && (argument == QLatin1String("-u") || argument == QLatin1String("-C"))) {
            ++i; // their value
            continue;
        }
        if (argument.contains(QLatin1Char('=')) || (afterEnv && argument.startsWith(QLatin1Char('-'))))
            continue;
        return QFileInfo(argument).fileName();
    }
    return QString();
}

} // namespace

std::optional<DesktopEntry> parseDesktopEntry(const QByteArray &contents, const QString &id,
                                              const QString &locale)
{
    const QStringList wantedLocales = localeKeys(locale);
    QHash<QString, QString> values;
    bool inMainGroup = false;
    for (const QByteArray &rawLine : contents.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!values.contains(key))
            values.insert(key, unescape(line.mid(equals + 1).trimmed()));
    }
    if (values.value(QStringLiteral("Type")) != QLatin1String("Application")
        || values.value(QStringLiteral("Hidden")) == QLatin1String("true"))
        return std::nullopt;

    DesktopEntry entry;
    entry.id = id;
    entry.name = values.value(QStringLiteral("Name"));
    for (const QString &key : wantedLocales) {
        const auto localized = values.constFind(QStringLiteral("Name[") + key + QLatin1Char(']'));
        if (localized != values.cend() && !localized->isEmpty()) {
            entry.name = *localized;
            break;
        }
    }
    if (entry.name.isEmpty())
        return std::nullopt;
    entry.startupWmClass = values.value(QStringLiteral("StartupWMClass"));
    const QString tryExec = values.value(QStringLiteral("TryExec"));
    entry.program = programOf(tryExec.isEmpty() ? values.value(QStringLiteral("Exec")) : tryExec);
    return entry;
}

DesktopEntryIndex::DesktopEntryIndex(QStringList applicationDirs, QString locale)
    : m_dirs(std::move(applicationDirs))
    , m_locale(std::move(locale))
{
}

QStringList DesktopEntryIndex::defaultApplicationDirs()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList dirs{dataHome + QStringLiteral("/applications")};
    for (const QString &dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        dirs << dir + QStringLiteral("/applications");
    dirs.removeDuplicates();
    return dirs;
}

QString DesktopEntryIndex::messagesLocale()
{
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(variable);
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

void DesktopEntryIndex::scan()
{
    m_entries.clear();
    m_byId.clear();
    m_byWmClass.clear();
    m_byProgram.clear();
    m_scannedDirs.clear();
    m_answers.clear();
    QSet<QString> visited;
    for (const QString &root : std::as_const(m_dirs)) {
        // The root's own folders first, breadth first; linked folders after them, so that a
        // link to a large tree is cut short without crowding out the real entries.
        QList<std::pair<QString, int>> pending{{root, 0}};
        QList<std::pair<QString, int>> linked;
        qsizetype folders = 0;
        while ((!pending.isEmpty() || !linked.isEmpty()) && folders < maxFoldersPerRoot) {
            const auto [folder, depth] = pending.isEmpty() ? linked.takeFirst() : pending.takeFirst();
            // Recorded even when missing, so that creating it later is noticed.
            m_scannedDirs.insert(folder, QFileInfo(folder).lastModified());
            const QString canonical = QFileInfo(folder).canonicalFilePath();
            if (canonical.isEmpty() || visited.contains(canonical))
                continue;
            visited.insert(canonical);
            ++folders;
            const QDir dir(folder);
            for (const QFileInfo &file : dir.entryInfoList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name))
                addEntry(root, file);
            if (depth < maxFolderDepth) {
                for (const QFileInfo &sub : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                    (sub.isSymLink() ? linked : pending).append({sub.filePath(), depth + 1});
            }
        }
    }
    m_sinceCheck.start();
}

void DesktopEntryIndex::addEntry(const QString &root, const QFileInfo &file)
{
    // The id of applications/kde4/foo.desktop is kde4-foo.
    QString id = file.filePath().mid(root.size() + 1);
    id.chop(int(qstrlen(".desktop")));
    id.replace(QLatin1Char('/'), QLatin1Char('-'));
    if (m_byId.contains(id))
        return;
    QFile reader(file.filePath());
    // A link may lead to a pipe or device, whose open() can wait forever.
    if (!file.isFile() || file.size() > maxEntryBytes || !reader.open(QIODevice::ReadOnly))
        return;
    const std::optional<DesktopEntry> entry = parseDesktopEntry(reader.read(maxEntryBytes), id, m_locale);
    // A hidden entry still hides the same id in folders of lower precedence.
    m_byId.insert(id, entry ? m_entries.size() : -1);
    if (!entry)
        return;
    if (!entry->startupWmClass.isEmpty() && !m_byWmClass.contains(entry->startupWmClass))
        m_byWmClass.insert(entry->startupWmClass, m_entries.size());
    // A program that several entries start (a shell, an interpreter, flatpak) names none of them.
    if (!entry->program.isEmpty())
        m_byProgram.insert(entry->program, m_byProgram.contains(entry->program) ? -1 : m_entries.size());
    m_entries.append(*entry);
}

void DesktopEntryIndex::rescanIfChanged()
{
    if (m_sinceCheck.isValid() && m_sinceCheck.elapsed() < recheckIntervalMs)
        return;
    bool changed = !m_sinceCheck.isValid();
    for (auto it = m_scannedDirs.cbegin(); !changed && it != m_scannedDirs.cend(); ++it)
        changed = QFileInfo(it.key()).lastModified() != it.value();
    if (changed)
        scan();
    else
        m_sinceCheck.start();
}

const DesktopEntry *DesktopEntryIndex::byBasename(const QString &name) const
{
    static const QStringList vendorPrefixes{QString(), QStringLiteral("gnome-"), QStringLiteral("fedora-"),
                                            QStringLiteral("mozilla-"), QStringLiteral("debian-")};
    for (const QString &prefix : vendorPrefixes) {
        const qsizetype index = m_byId.value(prefix + name, -1);
        if (index >= 0)
            return &m_entries[index];
    }
    return nullptr;
}

std::optional<DesktopEntry> DesktopEntryIndex::find(const QString &instance, const QString &wmClass,
                                                    const QString &program) const
{
    for (const QString &name : {instance, wmClass}) {
        if (const qsizetype index = m_byWmClass.value(name, -1); !name.isEmpty() && index >= 0)
            return m_entries[index];
    }
    for (const QString &name : {instance, wmClass}) {
        if (name.isEmpty())
            continue;
        if (const DesktopEntry *entry = byBasename(name))
            return *entry;
        QString canonical = name.toLower();
        canonical.replace(QLatin1Char(' '), QLatin1Char('-'));
        if (const DesktopEntry *entry = byBasename(canonical))
            return *entry;
    }
    if (const qsizetype index = m_byProgram.value(program, -1); !program.isEmpty() && index >= 0)
        return m_entries[index];
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopEntryIndex::match(const QString &instance, const QString &wmClass,
                                                     const QString &program)
{
    rescanIfChanged();
    const QString key = instance + QChar(0) + wmClass + QChar(0) + program;
    if (const auto it = m_answers.constFind(key); it != m_answers.cend())
        return *it;
    std::optional<DesktopEntry> answer = find(instance, wmClass, program);
    m_answers.insert(key, answer);
    return answer;
}
