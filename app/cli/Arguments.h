#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// The words after a command: positionals, flags (--json) and options with a value
// (--kind text or --kind=text). "--" ends the options.
class Arguments
{
public:
    // Parses against the flags and value options the command knows; anything else is an error.
    static std::optional<Arguments> parse(const QStringList &words, const QSet<QString> &flags,
                                          const QSet<QString> &valueOptions, QString *error);

    const QStringList &positionals() const { return m_positionals; }
    bool has(const QString &flag) const { return m_flags.contains(flag) || m_values.contains(flag); }
    std::optional<QString> value(const QString &option) const;

private:
    QStringList m_positionals;
    QSet<QString> m_flags;
    QMap<QString, QString> m_values;
};
