#include "app/cli/CommandLine.h"

#include "app/cli/CliSession.h"

namespace {

const QStringList itemCommands = {QStringLiteral("list"), QStringLiteral("show"), QStringLiteral("count"),
                                  QStringLiteral("add"), QStringLiteral("pin"), QStringLiteral("unpin"),
                                  QStringLiteral("title"), QStringLiteral("delete"), QStringLiteral("copy"),
                                  QStringLiteral("paste"), QStringLiteral("pause"), QStringLiteral("resume")};
const QStringList labelCommands = {QStringLiteral("labels"), QStringLiteral("label")};

} // namespace

bool isCommandLineCommand(const QString &word)
{
    return itemCommands.contains(word) || labelCommands.contains(word) || word == QLatin1String("settings")
        || word == QLatin1String("import-paste")
        || word == QLatin1String("help") || word == QLatin1String("--help") || word == QLatin1String("-h");
}

QString commandLineUsage()
{
    return QStringLiteral(
        "Usage: kestrelnote [COMMAND ...]\n"
        "Without a command, starts Kestrelnote (or wakes the one already running).\n"
        "\n"
        "Items (ID: a full item id or its first characters, at least four):\n"
        "  list [--kind text|link|image|file] [--pinned] [--label LABEL] [--search TEXT] [--limit N] [--json]\n"
        "  count [--kind K] [--pinned] [--label LABEL] [--search TEXT]\n"
        "  show ID [--json]\n"
        "  add text [TEXT|-] [--rtf FILE]   add file PATH...   add image FILE\n"
        "      [--source-app NAME] [--source-id DESKTOP-ID]   (prints the new item's id)\n"
        "  pin ID   unpin ID   title ID [TEXT]   delete ID...\n"
        "  copy ID [--plain]    the running Kestrelnote puts the item on the clipboard\n"
        "  paste ID [--plain]   ... and pastes it into the window in front\n"
        "  pause   resume       stop and restart capturing (what is copied meanwhile is never kept)\n"
        "\n"
        "Labels (LABEL: a label id or its name):\n"
        "  labels [--json]\n"
        "  label create NAME [--color 0-7]   label rename LABEL NAME   label recolor LABEL 0-7\n"
        "  label delete LABEL   label assign ID LABEL   label clear ID\n"
        "\n"
        "Settings (historyLimit, activeShortcut, sourceAttributionVersion, contentHashVersion):\n"
        "  settings   settings get KEY   settings set KEY VALUE   settings reset KEY\n"
        "\n"
        "Import from Paste:\n"
        "  import-paste FOLDER   imports the history and pinboards in Paste's data folder (the one\n"
        "                        holding db.sqlite); pinboards become labels. Ctrl+C stops early.\n"
        "\n"
        "JSON gives every stored attribute of an item; contentHash is a decimal string and the\n"
        "binary attributes are given as their byte count and SHA-256.\n"
        "Exit codes: 0 done, 1 failed, 2 bad arguments.\n");
}

int runCommandLine(const QStringList &words)
{
    CliSession session;
    if (words.isEmpty() || !isCommandLineCommand(words.first()))
        return session.usageError(QStringLiteral("unknown command %1").arg(words.value(0)));
    const QString &command = words.first();
    const QStringList rest = words.mid(1);
    if (command == QLatin1String("help") || command == QLatin1String("--help") || command == QLatin1String("-h")) {
        session.out() << commandLineUsage();
        return ExitCode::ok;
    }
    if (command == QLatin1String("settings"))
        return runSettingsCommand(session, rest);
    if (command == QLatin1String("import-paste"))
        return runImportCommand(session, rest);
    if (labelCommands.contains(command))
        return runLabelCommand(session, command, rest);
    return runItemCommand(session, command, rest);
}
