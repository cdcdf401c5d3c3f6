// list, show, count, add, pin, unpin, title, delete, copy, paste, pause, resume.
#include "app/InstanceChannel.h"
#include "app/cli/CliSession.h"
#include "app/cli/ItemJson.h"
#include "capture/ClipboardCapture.h"
#include "capture/SaveContext.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

namespace {

// Files larger than this are refused by "add image"/"add text --rtf".
constexpr qint64 maxInputFileBytes = 256LL * 1024 * 1024;

std::optional<FetchRequest> listRequest(CliSession &session, const Arguments &args, QString *error)
{
    QList<Predicate> conditions;
    if (const auto kind = args.value(QStringLiteral("kind"))) {
        const QString k = kind->toLower();
        if (k == QLatin1String("link")) {
            conditions.append(Predicate::equal(QStringLiteral("kind"), QStringLiteral("text"))
                              && (Predicate::beginsWith(QStringLiteral("plainText"), QStringLiteral("http://"), TextComparison::CaseInsensitive)
                                  || Predicate::beginsWith(QStringLiteral("plainText"), QStringLiteral("https://"), TextComparison::CaseInsensitive)));
        } else if (k == QLatin1String("text") || k == QLatin1String("image") || k == QLatin1String("file")) {
            conditions.append(Predicate::equal(QStringLiteral("kind"), k));
        } else {
            *error = QStringLiteral("--kind takes text, link, image or file");
            return std::nullopt;
        }
    }
    if (args.has(QStringLiteral("pinned")))
        conditions.append(Predicate::equal(QStringLiteral("isPinned"), true));
    if (const auto key = args.value(QStringLiteral("label"))) {
        const ClipLabelPtr label = session.findLabel(*key);
        if (!label || !label->id()) {
            *error = QString();
            return std::nullopt;
        }
        conditions.append(Predicate::equal(QStringLiteral("labelID"), uuidString(*label->id())));
    }
    if (const auto search = args.value(QStringLiteral("search")); search && !search->isEmpty()) {
        const auto cd = TextComparison::CaseDiacriticInsensitive;
        conditions.append(Predicate::contains(QStringLiteral("plainText"), *search, cd)
                          || Predicate::contains(QStringLiteral("fileName"), *search, cd)
                          || Predicate::contains(QStringLiteral("sourceAppName"), *search, cd)
                          || Predicate::contains(QStringLiteral("title"), *search, cd));
    }
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setSortDescriptors({{QStringLiteral("createdAt"), false}});
    if (!conditions.isEmpty())
        request.setPredicate(Predicate::allOf(conditions));
    if (const auto limit = args.value(QStringLiteral("limit"))) {
        bool ok = false;
        const int n = limit->toInt(&ok);
        if (!ok || n < 0) {
            *error = QStringLiteral("--limit takes a whole number");
            return std::nullopt;
        }
        request.setFetchLimit(n);
    }
    return request;
}

// One line: short id, kind, pin, date, and the title or the start of the content.
QString summaryLine(const ClipItem &item)
{
    QString preview;
    if (const auto title = cardTitle(item)) {
        preview = QLatin1Char('"') + *title + QLatin1Char('"');
    } else {
        switch (item.kind()) {
        case ClipKind::Image: preview = QStringLiteral("(image)"); break;
        case ClipKind::File: preview = item.fileName().value_or(QString()); break;
        case ClipKind::Text:
            preview = item.plainText().value_or(QString()).trimmed().section(QLatin1Char('\n'), 0, 0);
            break;
        }
    }
    if (preview.size() > 72)
        preview = preview.left(71) + QStringLiteral("…");
    const QString date = item.createdAt() ? item.createdAt()->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                          : QStringLiteral("----------------");
    return QStringLiteral("%1  %2  %3  %4  %5")
        .arg(idText(item.id()).left(8).leftJustified(8), storedName(item.kind()).leftJustified(5),
             item.isPinned() ? QStringLiteral("*") : QStringLiteral(" "), date, preview);
}

void printJson(QTextStream &out, const QJsonValue &value)
{
    out << (value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject())).toJson(QJsonDocument::Indented);
}

int list(CliSession &session, const QStringList &words)
{
    QString error;
    const auto args = Arguments::parse(words, {QStringLiteral("json"), QStringLiteral("pinned")},
                                       {QStringLiteral("kind"), QStringLiteral("label"), QStringLiteral("search"),
                                        QStringLiteral("limit")}, &error);
    if (!args || !args->positionals().isEmpty())
        return session.usageError(args ? QStringLiteral("list takes no words, only options") : error);
    if (!session.openStore())
        return ExitCode::failure;
    const auto request = listRequest(session, *args, &error);
    if (!request)
        return error.isEmpty() ? ExitCode::failure : session.usageError(error);
    QList<ClipItemPtr> items;
    // "--limit 0" asks for no items; the store takes a limit of 0 for none at all.
    if (!args->value(QStringLiteral("limit")) || request->fetchLimit() > 0) {
        const auto fetched = session.view().fetch<ClipItem>(*request);
        if (!fetched) {
            session.err() << "kestrelnote: " << fetched.error().localizedDescription() << '\n';
            return ExitCode::failure;
        }
        items = *fetched;
    }
    if (args->has(QStringLiteral("json"))) {
        QJsonArray array;
        for (const ClipItemPtr &item : std::as_const(items))
            array.append(itemToJson(*item));
        printJson(session.out(), array);
    } else {
        for (const ClipItemPtr &item : std::as_const(items))
            session.out() << summaryLine(*item) << '\n';
    }
    return ExitCode::ok;
}

int count(CliSession &session, const QStringList &words)
{
    QString error;
    const auto args = Arguments::parse(words, {QStringLiteral("pinned")},
                                       {QStringLiteral("kind"), QStringLiteral("label"), QStringLiteral("search")}, &error);
    if (!args || !args->positionals().isEmpty())
        return session.usageError(args ? QStringLiteral("count takes no words, only options") : error);
    if (!session.openStore())
        return ExitCode::failure;
    const auto request = listRequest(session, *args, &error);
    if (!request)
        return error.isEmpty() ? ExitCode::failure : session.usageError(error);
    const auto n = session.view().count(*request);
    if (!n) {
        session.err() << "kestrelnote: " << n.error().localizedDescription() << '\n';
        return ExitCode::failure;
    }
    session.out() << *n << '\n';
    return ExitCode::ok;
}

int show(CliSession &session, const QStringList &words)
{
    QString error;
    const auto args = Arguments::parse(words, {QStringLiteral("json")}, {}, &error);
    if (!args || args->positionals().size() != 1)
        return session.usageError(args ? QStringLiteral("show takes one item id") : error);
    if (!session.openStore())
        return ExitCode::failure;
    const ClipItemPtr item = session.findItem(args->positionals().first());
    if (!item)
        return ExitCode::failure;
    const QJsonObject json = itemToJson(*item);
    if (args->has(QStringLiteral("json"))) {
        printJson(session.out(), json);
        return ExitCode::ok;
    }
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (it.key() == QLatin1String("plainText") || it.value().isNull())
            continue;
        const QString value = it.value().isObject()
            ? QStringLiteral("%1 bytes, sha256 %2").arg(it.value()[QStringLiteral("bytes")].toInteger())
                  .arg(it.value()[QStringLiteral("sha256")].toString())
            : it.value().toVariant().toString();
        session.out() << it.key() << ": " << value << '\n';
    }
    if (item->plainText())
        session.out() << "\n" << *item->plainText() << '\n';
    return ExitCode::ok;
}

// Reads to the end, in pieces: a pipe or FIFO gives what has arrived so far on each read,
// and its size is unknown beforehand. One byte more than allowed tells input that is too
// long from input that just fits.
std::optional<QByteArray> readWhole(CliSession &session, QIODevice &device, const QString &name)
{
    constexpr qint64 piece = 1024 * 1024;
    QByteArray bytes;
    while (bytes.size() <= maxInputFileBytes) {
        const QByteArray chunk = device.read(std::min(piece, maxInputFileBytes + 1 - bytes.size()));
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    if (bytes.size() > maxInputFileBytes) {
        session.err() << "kestrelnote: " << name << " is larger than 256 MB\n";
        return std::nullopt;
    }
    return bytes;
}

std::optional<QByteArray> readInputFile(CliSession &session, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        session.err() << "kestrelnote: cannot read " << path << ": " << file.errorString() << '\n';
        return std::nullopt;
    }
    return readWhole(session, file, path);
}

std::optional<QByteArray> readStandardInput(CliSession &session)
{
    QFile input;
    input.open(stdin, QIODevice::ReadOnly);
    return readWhole(session, input, QStringLiteral("standard input"));
}

int add(CliSession &session, const QStringList &words)
{
    QString error;
    const auto args = Arguments::parse(words, {}, {QStringLiteral("rtf"), QStringLiteral("source-app"),
                                                   QStringLiteral("source-id")}, &error);
    if (!args || args->positionals().isEmpty())
        return session.usageError(args ? QStringLiteral("add takes text, file or image") : error);
    const QString what = args->positionals().first();
    const QStringList rest = args->positionals().mid(1);

    ClipboardPayload payload{ClipboardPayload::Text{}, args->value(QStringLiteral("source-app")),
                             args->value(QStringLiteral("source-id"))};
    if (what == QLatin1String("text")) {
        if (rest.size() > 1)
            return session.usageError(QStringLiteral("add text takes one text (quote it), or reads it from standard input"));
        QString text = rest.value(0);
        if (rest.isEmpty() || rest.first() == QLatin1String("-")) {
            const std::optional<QByteArray> input = readStandardInput(session);
            if (!input)
                return ExitCode::failure;
            text = QString::fromUtf8(*input);
        }
        if (text.trimmed().isEmpty()) {
            session.err() << "kestrelnote: nothing to add: the text is blank\n";
            return ExitCode::failure;
        }
        ClipboardPayload::Text content{text, std::nullopt};
        if (const auto rtfPath = args->value(QStringLiteral("rtf"))) {
            content.rtfData = readInputFile(session, *rtfPath);
            if (!content.rtfData)
                return ExitCode::failure;
        }
        payload.content = content;
    } else if (what == QLatin1String("file")) {
        if (rest.isEmpty())
            return session.usageError(QStringLiteral("add file takes one or more paths"));
        QStringList names, paths;
        for (const QString &path : rest) {
            const QFileInfo info(path);
            paths.append(info.absoluteFilePath());
            names.append(info.fileName().isEmpty() ? info.absoluteFilePath() : info.fileName());
        }
        payload.content = ClipboardPayload::File{names.join(QStringLiteral(", ")), paths.join(QLatin1Char('\n'))};
    } else if (what == QLatin1String("image")) {
        if (rest.size() != 1)
            return session.usageError(QStringLiteral("add image takes one image file"));
        const auto bytes = readInputFile(session, rest.first());
        if (!bytes)
            return ExitCode::failure;
        // Stored anyway, bytes no image reader knows would make an image item of any file.
        QBuffer buffer;
        buffer.setData(*bytes);
        buffer.open(QIODevice::ReadOnly);
        if (!QImageReader(&buffer).canRead()) {
            session.err() << "kestrelnote: " << rest.first() << " is not an image\n";
            return ExitCode::failure;
        }
        payload.content = ClipboardPayload::Image{*bytes};
    } else {
        return session.usageError(QStringLiteral("add takes text, file or image, not %1").arg(what));
    }

    if (!session.openStore())
        return ExitCode::failure;
    QEventLoop loop;
    std::optional<QUuid> savedId;
    session.capture().captureWithResult(payload, [&loop, &savedId](std::optional<QUuid> id) {
        QMetaObject::invokeMethod(&loop, [&loop, &savedId, id] {
            savedId = id;
            loop.quit();
        }, Qt::QueuedConnection);
    });
    loop.exec();
    // The newest item is not necessarily ours: the running application may have captured
    // meanwhile, and a failed save leaves the one before.
    if (!savedId) {
        session.err() << "kestrelnote: the item could not be saved\n";
        return ExitCode::failure;
    }
    session.out() << idText(savedId) << '\n';
    return ExitCode::ok;
}

// pin, unpin, title, delete: a change to one item, saved in the view context as the shelf does.
int edit(CliSession &session, const QString &command, const QStringList &words)
{
    QString error;
    const auto args = Arguments::parse(words, {}, {}, &error);
    if (!args)
        return session.usageError(error);
    const QStringList &p = args->positionals();
    const bool isTitle = command == QLatin1String("title");
    if (p.isEmpty() || (!isTitle && command != QLatin1String("delete") && p.size() != 1) || (isTitle && p.size() > 2))
        return session.usageError(QStringLiteral("%1 takes an item id%2").arg(command, isTitle ? QStringLiteral(" and a title") : QString()));
    if (!session.openStore())
        return ExitCode::failure;
    session.capture(); // heals after this save, as in the application

    QString label;
    if (command == QLatin1String("delete")) {
        for (const QString &key : p) {
            const ClipItemPtr item = session.findItem(key);
            if (!item)
                return ExitCode::failure;
            session.view().deleteObject(item);
        }
        label = QStringLiteral("delete item");
    } else {
        const ClipItemPtr item = session.findItem(p.first());
        if (!item)
            return ExitCode::failure;
        if (isTitle) {
            item->setTitle(p.size() == 2 && !p.at(1).trimmed().isEmpty() ? std::optional<QString>(p.at(1)) : std::nullopt);
            label = QStringLiteral("assign");
        } else {
            item->setPinned(command == QLatin1String("pin"));
            label = QStringLiteral("toggle pin");
        }
    }
    if (!saveContext(session.view(), label, klog::Category::Persistence)) {
        session.err() << "kestrelnote: the change could not be saved\n";
        return ExitCode::failure;
    }
    return ExitCode::ok;
}

// Sends a request to the running application; prints why when it is not running or refused.
int askRunningApplication(CliSession &session, const QJsonObject &request)
{
    const InstanceChannel channel(InstanceChannel::socketNameFor(StoreContainer::defaultDirectory()));
    const auto reply = channel.send(request);
    if (!reply) {
        session.err() << "kestrelnote: Kestrelnote is not running; start it first\n";
        return ExitCode::failure;
    }
    if (!reply->value(QStringLiteral("ok")).toBool()) {
        session.err() << "kestrelnote: " << reply->value(QStringLiteral("error")).toString() << '\n';
        return ExitCode::failure;
    }
    return ExitCode::ok;
}

// copy: the running application puts the item on the clipboard and owns it afterwards, so
// the copy outlives this command. paste: the same, then the paste keystroke into the
// window in front.
int copyOrPaste(CliSession &session, const QString &command, const QStringList &words)
{
    QString error;
    const auto args = Arguments::parse(words, {QStringLiteral("plain")}, {}, &error);
    if (!args || args->positionals().size() != 1)
        return session.usageError(args ? QStringLiteral("%1 takes one item id").arg(command) : error);
    if (!session.openStore())
        return ExitCode::failure;
    const ClipItemPtr item = session.findItem(args->positionals().first());
    if (!item)
        return ExitCode::failure;
    return askRunningApplication(session, {{QStringLiteral("command"), command},
                                           {QStringLiteral("id"), idText(item->id())},
                                           {QStringLiteral("style"), args->has(QStringLiteral("plain")) ? QStringLiteral("plainText") : QStringLiteral("rich")}});
}

int pauseOrResume(CliSession &session, const QString &command, const QStringList &words)
{
    if (!words.isEmpty())
        return session.usageError(QStringLiteral("%1 takes no words").arg(command));
    return askRunningApplication(session, {{QStringLiteral("command"), command}});
}

} // namespace

int runItemCommand(CliSession &session, const QString &command, const QStringList &words)
{
    if (command == QLatin1String("list"))
        return list(session, words);
    if (command == QLatin1String("count"))
        return count(session, words);
    if (command == QLatin1String("show"))
        return show(session, words);
    if (command == QLatin1String("add"))
        return add(session, words);
    if (command == QLatin1String("copy") || command == QLatin1String("paste"))
        return copyOrPaste(session, command, words);
    if (command == QLatin1String("pause") || command == QLatin1String("resume"))
        return pauseOrResume(session, command, words);
    return edit(session, command, words);
}
