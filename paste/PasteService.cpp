#include "paste/PasteService.h"

#include "capture/ClipboardMonitor.h"
#include "platform/keystroke/PasteKeystrokePoster.h"
#include "platform/log/Log.h"
#include "platform/pasteboard/Pasteboard.h"
#include "store/ClipItem.h"

#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

PasteService::PasteService(ClipboardMonitor &monitor, PasteKeystrokePoster &poster)
    : m_monitor(monitor)
    , m_poster(&poster)
{
    connect(&poster, &PasteKeystrokePoster::pasteFinished, this, &PasteService::keystrokeFinished);
}

void PasteService::setExplanationPresenter(std::function<void(const QString &)> present)
{
    m_presentExplanation = std::move(present);
}

QString PasteService::manualPasteExplanation()
{
    return QStringLiteral(
        "Kestrelnote can't type into other applications here, so it only copies the item. "
        "Paste it yourself with Ctrl+V (Ctrl+Shift+V in most terminals).");
}

void PasteService::copy(const ClipItem &item, PasteStyle style)
{
    m_monitor.poll();
    Pasteboard &pasteboard = m_monitor.pasteboard();
    pasteboard.clearContents();
    for (const PasteboardEntry &entry : pasteboardEntries(item, style)) {
        if (const auto *bytes = std::get_if<QByteArray>(&entry.value))
            pasteboard.setData(*bytes, entry.type);
        else
            pasteboard.setString(std::get<QString>(entry.value), entry.type);
    }
    if (m_poster && m_poster->targetReadsPrimarySelection())
        pasteboard.writeAlsoToPrimarySelection();
    m_monitor.setLastChangeCount(pasteboard.changeCount());
}

void PasteService::paste(const ClipItem &item, PasteStyle style)
{
    copy(item, style);
    QTimer::singleShot(keystrokeDelayMs, this, &PasteService::postCommandV);
}

void PasteService::pasteOrCopy(const ClipItem &item, PasteStyle style)
{
    const bool access = hasPostEventAccess();
    klog::notice(klog::Category::App, QStringLiteral("onPaste (postEventAccess: %1)").arg(boolText(access)));
    if (access) {
        paste(item, style);
    } else {
        copy(item, style);
        requestPostEventAccess();
    }
}

bool PasteService::hasPostEventAccess() const
{
    return m_poster && m_poster->isAvailable();
}

void PasteService::postCommandV()
{
    const bool access = hasPostEventAccess();
    const bool secureInput = m_poster && m_poster->isSecureInputActive();
    const bool ourWindowIsKey = QGuiApplication::focusWindow() != nullptr;
    klog::notice(klog::Category::App,
                 QStringLiteral("direct paste: sending ⌘V (postEventAccess: %1, secureInput: %2, ourWindowIsKey: %3)")
                     .arg(boolText(access), boolText(secureInput), boolText(ourWindowIsKey)));
    if (!access)
        klog::error(klog::Category::App, QStringLiteral("direct paste: post-event access not granted; ⌘V would be dropped"));
    if (secureInput)
        klog::error(klog::Category::App,
                    QStringLiteral("direct paste: secure event input is on (a password field or terminal setting); "
                                   "synthetic ⌘V will be dropped"));
    if (!m_poster) {
        klog::error(klog::Category::App, QStringLiteral("direct paste: CGEventSource creation failed"));
        return;
    }
    m_poster->postPaste();
}

void PasteService::keystrokeFinished(PasteKeystrokeOutcome outcome)
{
    switch (outcome) {
    case PasteKeystrokeOutcome::Sent:
        klog::notice(klog::Category::App, QStringLiteral("direct paste: ⌘V posted"));
        return;
    case PasteKeystrokeOutcome::Unavailable:
        klog::error(klog::Category::App, QStringLiteral("direct paste: no way to send keystrokes on this display"));
        return;
    case PasteKeystrokeOutcome::NoTarget:
        klog::error(klog::Category::App, QStringLiteral("direct paste: no window to paste into was remembered"));
        return;
    case PasteKeystrokeOutcome::TargetGone:
        klog::error(klog::Category::App, QStringLiteral("direct paste: the window to paste into was closed"));
        return;
    case PasteKeystrokeOutcome::TargetNotActivated:
        klog::error(klog::Category::App, QStringLiteral("direct paste: the window to paste into did not become active again"));
        return;
    case PasteKeystrokeOutcome::KeyboardHeld:
        klog::error(klog::Category::App, QStringLiteral("direct paste: another application holds the keyboard; ⌘V not sent"));
        return;
    }
}

void PasteService::requestPostEventAccess()
{
    if (hasPostEventAccess() || m_explained)
        return;
    m_explained = true;
    klog::notice(klog::Category::App, QStringLiteral("direct paste unavailable: the item was only copied"));
    if (m_presentExplanation)
        m_presentExplanation(manualPasteExplanation());
}
