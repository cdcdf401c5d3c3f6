// labels, label create|rename|recolor|delete|assign|clear.
#include "app/cli/CliSession.h"
#include "app/cli/ItemJson.h"
#include "capture/SaveContext.h"
#include "shelf/LabelOperations.h"
#include "store/StoreContext.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

int listLabels(CliSession &session, const QStringList &words)
{
    QString error;
    const auto args = Arguments::parse(words, {QStringLiteral("json")}, {}, &error);
    if (!args || !args->positionals().isEmpty())
        return session.usageError(args ? QStringLiteral("labels takes no words") : error);
    if (!session.openStore())
        return ExitCode::failure;
    const auto labels = session.view().fetch<ClipLabel>(labelListRequest());
    if (!labels) {
        session.err() << "kestrelnote: " << labels.error().localizedDescription() << '\n';
        return ExitCode::failure;
    }
    if (args->has(QStringLiteral("json"))) {
        QJsonArray array;
        for (const ClipLabelPtr &label : *labels)
            array.append(labelToJson(*label));
        session.out() << QJsonDocument(array).toJson(QJsonDocument::Indented);
        return ExitCode::ok;
    }
    for (const ClipLabelPtr &label : *labels) {
        session.out() << idText(label->id()).left(8) << "  " << label->colorIndex() << "  "
                      << label->name().value_or(QStringLiteral("Untitled")) << '\n';
    }
    return ExitCode::ok;
}

std::optional<int> colorIndexArgument(CliSession &session, const QString &text)
{
    bool ok = false;
    const int index = text.toInt(&ok);
    if (!ok || index < 0 || index > 7) {
        session.usageError(QStringLiteral("a colour is a number from 0 to 7"));
        return std::nullopt;
    }
    return index;
}

} // namespace

int runLabelCommand(CliSession &session, const QString &command, const QStringList &words)
{
    if (command == QLatin1String("labels"))
        return listLabels(session, words);

    QString error;
    const auto args = Arguments::parse(words, {}, {QStringLiteral("color")}, &error);
    if (!args || args->positionals().isEmpty())
        return session.usageError(args ? QStringLiteral("label takes create, rename, recolor, delete, assign or clear") : error);
    const QString action = args->positionals().first();
    const QStringList p = args->positionals().mid(1);
    const auto needs = [&](qsizetype n, const QString &what) {
        return p.size() == n ? ExitCode::ok : session.usageError(QStringLiteral("label %1 takes %2").arg(action, what));
    };

    if (action == QLatin1String("create")) {
        if (const int code = needs(1, QStringLiteral("a name")))
            return code;
        if (!session.openStore())
            return ExitCode::failure;
        int color = 0;
        if (const auto given = args->value(QStringLiteral("color"))) {
            const auto index = colorIndexArgument(session, *given);
            if (!index)
                return ExitCode::usage;
            color = *index;
        } else if (const auto existing = session.view().count(labelListRequest())) {
            color = int(*existing % 8); // new labels take the palette colours in turn
        }
        const ClipLabelPtr label = createLabel(p.first(), color, session.view());
        if (!label) {
            session.err() << "kestrelnote: the label was not created (a blank name, or the store refused it)\n";
            return ExitCode::failure;
        }
        session.out() << idText(label->id()) << '\n';
        return ExitCode::ok;
    }

    if (action == QLatin1String("assign") || action == QLatin1String("clear")) {
        const bool assign = action == QLatin1String("assign");
        if (const int code = needs(assign ? 2 : 1, assign ? QStringLiteral("an item and a label") : QStringLiteral("an item")))
            return code;
        if (!session.openStore())
            return ExitCode::failure;
        session.capture(); // heals after this save, as in the application
        const ClipItemPtr item = session.findItem(p.first());
        if (!item)
            return ExitCode::failure;
        std::optional<QString> labelID;
        if (assign) {
            const ClipLabelPtr label = session.findLabel(p.at(1));
            if (!label)
                return ExitCode::failure;
            labelID = label->id() ? uuidString(*label->id()) : QString();
        }
        item->setLabelID(labelID);
        return saveContext(session.view(), QStringLiteral("assign"), klog::Category::Persistence) ? ExitCode::ok
                                                                                                    : ExitCode::failure;
    }

    if (action != QLatin1String("rename") && action != QLatin1String("recolor") && action != QLatin1String("delete"))
        return session.usageError(QStringLiteral("unknown label action %1").arg(action));
    if (const int code = needs(action == QLatin1String("delete") ? 1 : 2,
                               action == QLatin1String("delete") ? QStringLiteral("a label") : QStringLiteral("a label and a value")))
        return code;
    if (!session.openStore())
        return ExitCode::failure;
    const ClipLabelPtr label = session.findLabel(p.first());
    if (!label)
        return ExitCode::failure;
    bool saved = false;
    if (action == QLatin1String("rename")) {
        // The shelf ignores a blank name; a command asked for it says it did nothing.
        const QString &name = p.at(1);
        if (std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); })) {
            session.err() << "kestrelnote: the label was not renamed: the name is blank\n";
            return ExitCode::failure;
        }
        saved = renameLabel(label, p.at(1), session.view());
    } else if (action == QLatin1String("recolor")) {
        const auto index = colorIndexArgument(session, p.at(1));
        if (!index)
            return ExitCode::usage;
        saved = recolorLabel(label, *index, session.view());
    } else {
        saved = deleteLabel(label, session.view());
    }
    return saved ? ExitCode::ok : ExitCode::failure;
}
