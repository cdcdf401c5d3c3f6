#include "platform/x11/X11Pasteboard.h"

#include "platform/log/Log.h"
#include "platform/pasteboard/UriList.h"
#include "platform/x11/ClipboardTargets.h"
#include "platform/x11/QtX11.h"
#include "platform/x11/SelectionReader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>

#include <xcb/xfixes.h>

namespace {

using Entries = QList<QPair<QString, QByteArray>>;

const QString gnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");
// More types than any real application offers; a longer list is an owner misbehaving.
constexpr qsizetype maxTargets = 1024;

bool isTextType(const QString &type)
{
    return type == PasteboardType::string || type == PasteboardType::plainText;
}

QMimeData *mimeDataFor(const Entries &entries)
{
    auto *mime = new QMimeData;
    for (const auto &[type, bytes] : entries) {
        if (isTextType(type)) {
            // Qt offers "text/plain" also as UTF8_STRING, STRING and TEXT.
            mime->setData(PasteboardType::plainText, bytes);
            mime->setData(PasteboardType::string, bytes);
        } else {
            mime->setData(type, bytes);
        }
    }
    return mime;
}

} // namespace

struct X11Pasteboard::State {
    std::unique_ptr<XcbConnection> connection;
    std::unique_ptr<SelectionReader> reader;
    SelectionReadLimits limits;
    xcb_atom_t clipboard = XCB_ATOM_NONE;
    quint8 xfixesFirstEvent = 0;

    qint64 changeCount = 0;

    // What we learnt about the current contents; forgotten when the count moves.
    struct Change {
        qint64 count = -1;
        std::optional<bool> ownedByUs;
        bool targetsRead = false;
        std::optional<QList<QByteArray>> targets;
        bool ownerUnresponsive = false;
        std::optional<QDeadlineTimer> budget;
    };
    Change change;

    // The write in progress since clearContents, published at the end of the event-loop
    // turn or when the clipboard is next asked about, whichever comes first.
    std::optional<Entries> pending;
    bool pendingPrimary = false;
    bool publishScheduled = false;
    // The contents of our last write, answered from memory while we own the clipboard.
    Entries published;
};

std::unique_ptr<X11Pasteboard> X11Pasteboard::create(const SelectionReadLimits &limits)
{
    auto state = std::make_unique<State>();
    state->connection = XcbConnection::open();
    if (!state->connection)
        return nullptr;
    xcb_connection_t *c = state->connection->get();
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return nullptr;
    XcbPtr<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
        c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION), nullptr));
    if (!version)
        return nullptr;
    state->xfixesFirstEvent = xfixes->first_event;
    state->limits = limits;
    state->clipboard = state->connection->atom("CLIPBOARD");
    state->reader = std::make_unique<SelectionReader>(*state->connection, state->clipboard);
    xcb_xfixes_select_selection_input(
        c, state->connection->root(), state->clipboard,
        XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
            | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
            | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(c);
    return std::unique_ptr<X11Pasteboard>(new X11Pasteboard(std::move(state)));
}

X11Pasteboard::X11Pasteboard(std::unique_ptr<State> state)
    : d(std::move(state))
{
    const xcb_atom_t clipboard = d->clipboard;
    const int selectionNotify = d->xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY;
    d->connection->setEventHandler([this, clipboard, selectionNotify](const xcb_generic_event_t &event) {
        if (xcbEventType(event) != selectionNotify)
            return;
        const auto &notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t &>(event);
        if (notify.selection != clipboard)
            return;
        if (notify.subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER) {
            // The echo of our own write was counted when we published it.
            if (!isWindowOfThisApplication(notify.owner))
                noteChange(Change::NewOwner);
        } else {
            noteChange(Change::OwnerQuit);
        }
    });
}

X11Pasteboard::~X11Pasteboard() = default;

void X11Pasteboard::noteChange(Change change)
{
    const qint64 count = ++d->changeCount;
    if (change != Change::OwnerQuit)
        return;
    klog::info(klog::Category::Capture, QStringLiteral("clipboard owner quit; its contents are gone"));
    // Told from the event loop, and only if nobody has taken the clipboard since.
    QTimer::singleShot(0, this, [this, count] {
        catchUp();
        if (d->changeCount == count)
            Q_EMIT contentsLost();
    });
}

void X11Pasteboard::catchUp() const
{
    publishPendingWrite();
    d->connection->dispatchPendingEvents();
    if (d->change.count != d->changeCount) {
        d->change = State::Change{};
        d->change.count = d->changeCount;
    }
}

qint64 X11Pasteboard::changeCount() const
{
    catchUp();
    return d->changeCount;
}

bool X11Pasteboard::ownedByUs() const
{
    if (!d->change.ownedByUs) {
        xcb_connection_t *c = d->connection->get();
        XcbPtr<xcb_get_selection_owner_reply_t> reply(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, d->clipboard), nullptr));
        d->change.ownedByUs = reply && isWindowOfThisApplication(reply->owner);
    }
    return *d->change.ownedByUs;
}

std::optional<QByteArray> X11Pasteboard::convert(const QByteArray &target) const
{
    State::Change &change = d->change;
    if (change.ownerUnresponsive)
        return std::nullopt;
    if (!change.budget)
        change.budget = QDeadlineTimer(d->limits.changeBudget);
    if (change.budget->hasExpired())
        return std::nullopt;
    const qint64 expected = change.count;
    const xcb_atom_t atom = d->connection->atom(target.constData());
    const SelectionReadResult result = d->reader->read(
        atom, d->limits, *change.budget, [this, expected] { return d->changeCount != expected; });
    switch (result.error) {
    case SelectionReadError::None:
        return result.bytes;
    case SelectionReadError::TimedOut:
        // One unanswered request is enough: the rest of this change's reads give up at once.
        d->change.ownerUnresponsive = true;
        // A slow transfer that kept answering ran out of the change's time, not one answer's.
        if (change.budget->hasExpired())
            klog::error(klog::Category::Capture, QStringLiteral("clipboard change not read within %1 ms; change skipped")
                                                     .arg(d->limits.changeBudget.count()));
        else
            klog::error(klog::Category::Capture,
                        QStringLiteral("clipboard owner did not answer within %1 ms; change skipped")
                            .arg(d->limits.stepTimeout.count()));
        return std::nullopt;
    case SelectionReadError::TooLarge:
        klog::error(klog::Category::Capture,
                    QStringLiteral("clipboard type larger than %1 bytes left unread")
                        .arg(d->limits.maxBytes));
        return std::nullopt;
    case SelectionReadError::ConnectionLost:
        klog::error(klog::Category::Capture, QStringLiteral("lost the connection to the X server"));
        return std::nullopt;
    case SelectionReadError::Refused:
    case SelectionReadError::Interrupted:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<QList<QByteArray>> X11Pasteboard::offeredTargets() const
{
    catchUp();
    State::Change &change = d->change;
    if (change.targetsRead)
        return change.targets;
    change.targetsRead = true;
    const std::optional<QByteArray> bytes = convert(QByteArrayLiteral("TARGETS"));
    // A list of atoms; anything else is an owner misbehaving.
    if (!bytes || bytes->size() % 4 != 0 || bytes->size() / 4 > maxTargets)
        return std::nullopt;
    QList<xcb_atom_t> atoms(bytes->size() / 4);
    std::memcpy(atoms.data(), bytes->constData(), size_t(bytes->size()));
    QList<QByteArray> names = d->connection->atomNames(atoms);
    names.removeAll(QByteArray());
    // Interrupted reads must not be remembered for the next change.
    if (change.count == d->changeCount)
        change.targets = names;
    return names;
}

std::optional<QStringList> X11Pasteboard::types() const
{
    catchUp();
    if (ownedByUs()) {
        QStringList types;
        for (const auto &entry : std::as_const(d->published))
            types.append(entry.first);
        return types;
    }
    const std::optional<QList<QByteArray>> targets = offeredTargets();
    if (!targets)
        return std::nullopt;
    return ClipboardTargets::typesForTargets(*targets);
}

std::optional<QByteArray> X11Pasteboard::ownData(const QString &type) const
{
    for (const auto &[entryType, bytes] : std::as_const(d->published)) {
        if (entryType == type || (isTextType(type) && isTextType(entryType)))
            return bytes;
    }
    return std::nullopt;
}

std::optional<QByteArray> X11Pasteboard::data(const QString &type) const
{
    catchUp();
    if (ownedByUs())
        return ownData(type);
    const std::optional<QList<QByteArray>> targets = offeredTargets();
    if (!targets)
        return std::nullopt;
    const QByteArray target = ClipboardTargets::targetForType(type, *targets);
    if (target.isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> bytes = convert(target);
    if (!bytes)
        return std::nullopt;
    return ClipboardTargets::toTypeEncoding(*bytes, target);
}

std::optional<QString> X11Pasteboard::string() const
{
    const std::optional<QByteArray> bytes = data(PasteboardType::string);
    if (!bytes)
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

std::optional<QList<QUrl>> X11Pasteboard::fileUrls() const
{
    if (std::optional<QByteArray> list = data(PasteboardType::uriList))
        return fileUrlsFromUriList(*list, maxFileUrls);
    // GNOME's file managers: "copy" or "cut", then one URI per line.
    if (std::optional<QByteArray> copied = data(gnomeCopiedFiles)) {
        const qsizetype firstLineEnd = copied->indexOf('\n');
        if (firstLineEnd < 0)
            return QList<QUrl>();
        return fileUrlsFromUriList(copied->mid(firstLineEnd + 1), maxFileUrls);
    }
    return std::nullopt;
}

void X11Pasteboard::clearContents()
{
    d->pending = Entries();
    d->pendingPrimary = false;
    schedulePublish();
}

void X11Pasteboard::setData(const QByteArray &data, const QString &type)
{
    if (!d->pending)
        d->pending = Entries();
    d->pending->append({type, data});
    schedulePublish();
}

void X11Pasteboard::setString(const QString &text, const QString &type)
{
    setData(text.toUtf8(), type);
}

void X11Pasteboard::writeAlsoToPrimarySelection()
{
    d->pendingPrimary = true;
    schedulePublish();
}

void X11Pasteboard::schedulePublish()
{
    if (d->publishScheduled)
        return;
    d->publishScheduled = true;
    QTimer::singleShot(0, this, [this] { publishPendingWrite(); });
}

void X11Pasteboard::publishPendingWrite() const
{
    d->publishScheduled = false;
    if (!d->pending)
        return;
    // Everything written since clearContents becomes one item, set at once.
    d->published = std::move(*d->pending);
    d->pending.reset();
    // Take in what happened before our write; a claim older than the owner's is ignored.
    d->connection->dispatchPendingEvents();
    setQtX11Time(d->connection->serverTime());
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(mimeDataFor(d->published), QClipboard::Clipboard);
    if (d->pendingPrimary && clipboard->supportsSelection())
        clipboard->setMimeData(mimeDataFor(d->published), QClipboard::Selection);
    d->pendingPrimary = false;
    ++d->changeCount;
    d->change = State::Change{};
    d->change.count = d->changeCount;
    d->change.ownedByUs = true;
}
