// settings, settings get KEY, settings set KEY VALUE, settings reset KEY.
#include "app/cli/CliSession.h"

namespace {

const QStringList integerKeys = {SettingsKey::historyLimit, SettingsKey::sourceAttributionVersion,
                                 SettingsKey::contentHashVersion};
const QStringList textKeys = {SettingsKey::activeShortcut};

bool isKnown(const QString &key)
{
    return integerKeys.contains(key) || textKeys.contains(key);
}

QString valueText(UserDefaults &defaults, const QString &key)
{
    return integerKeys.contains(key) ? QString::number(defaults.integer(key)) : defaults.string(key);
}

} // namespace

int runSettingsCommand(CliSession &session, const QStringList &words)
{
    UserDefaults &defaults = session.defaults();
    if (words.isEmpty()) {
        for (const QString &key : integerKeys + textKeys)
            session.out() << key << " = " << valueText(defaults, key) << '\n';
        return ExitCode::ok;
    }
    const QString &action = words.first();
    if (words.size() < 2 || !isKnown(words.at(1)))
        return session.usageError(words.size() < 2 ? QStringLiteral("settings %1 takes a key").arg(action)
                                                   : QStringLiteral("unknown setting %1").arg(words.at(1)));
    const QString &key = words.at(1);
    if (action == QLatin1String("get") && words.size() == 2) {
        session.out() << valueText(defaults, key) << '\n';
        return ExitCode::ok;
    }
    if (action == QLatin1String("reset") && words.size() == 2) {
        defaults.remove(key);
        return ExitCode::ok;
    }
    if (action == QLatin1String("set") && words.size() == 3) {
        if (integerKeys.contains(key)) {
            bool ok = false;
            const qint64 value = words.at(2).toLongLong(&ok);
            if (!ok)
                return session.usageError(QStringLiteral("%1 takes a whole number").arg(key));
            defaults.setInteger(key, value);
        } else {
            defaults.setString(key, words.at(2));
        }
        return ExitCode::ok;
    }
    return session.usageError(QStringLiteral("settings takes get KEY, set KEY VALUE or reset KEY"));
}
