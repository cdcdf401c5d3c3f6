#include "app/cli/Arguments.h"

std::optional<Arguments> Arguments::parse(const QStringList &words, const QSet<QString> &flags,
                                          const QSet<QString> &valueOptions, QString *error)
{
    Arguments result;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words.at(i);
        if (optionsEnded || !word.startsWith(QLatin1String("--")) ) {
            result.m_positionals.append(word);
            continue;
        }
        if (word == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = word.mid(2);
        std::optional<QString> inlineValue;
        if (const qsizetype equals = name.indexOf(QLatin1Char('=')); equals >= 0) {
            inlineValue = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (flags.contains(name) && !inlineValue) {
            result.m_flags.insert(name);
        } else if (valueOptions.contains(name)) {
            if (inlineValue) {
                result.m_values.insert(name, *inlineValue);
            } else if (i + 1 < words.size()) {
                result.m_values.insert(name, words.at(++i));
            } else {
                *error = QStringLiteral("--%1 needs a value").arg(name);
                return std::nullopt;
            }
        } else {
            *error = QStringLiteral("unknown option --%1").arg(name);
            return std::nullopt;
        }
    }
    return result;
}

std::optional<QString> Arguments::value(const QString &option) const
{
    const auto it = m_values.constFind(option);
    if (it == m_values.cend())
        return std::nullopt;
    return *it;
}
