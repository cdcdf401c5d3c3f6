#include "capture/ClipboardMonitor.h"

#include "capture/ClipboardCapture.h"
#include "capture/ClipboardPayload.h"
#include "platform/frontapp/FrontApplication.h"
#include "platform/pasteboard/Pasteboard.h"

ClipboardMonitor::ClipboardMonitor(StoreContainer &container, Pasteboard &pasteboard,
                                   FrontApplicationProvider &frontApplication, UserDefaults &defaults)
    : m_pasteboard(pasteboard)
    , m_frontApplication(frontApplication)
    , m_capture(std::make_unique<ClipboardCapture>(container, defaults))
    , m_lastChangeCount(pasteboard.changeCount())
{
}

ClipboardMonitor::~ClipboardMonitor() = default;

void ClipboardMonitor::start()
{
    if (m_timer)
        return;
    m_lastChangeCount = m_pasteboard.changeCount();
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(pollIntervalMs);
    // A little slack lets the system batch our wake-ups with others'.
    m_timer->setTimerType(Qt::CoarseTimer);
    connect(m_timer.get(), &QTimer::timeout, this, &ClipboardMonitor::poll);
    m_timer->start();
}

void ClipboardMonitor::poll()
{
    if (m_pasteboard.changeCount() == m_lastChangeCount)
        return;
    m_lastChangeCount = m_pasteboard.changeCount();
    if (m_paused)
        return;
    std::optional<ClipboardPayload> payload = makePayload(m_pasteboard, m_frontApplication.frontApplication());
    if (!payload)
        return;
    m_capture->capture(std::move(*payload));
}

void ClipboardMonitor::setPaused(bool paused)
{
    if (m_paused == paused)
        return;
    m_paused = paused;
    Q_EMIT pausedChanged(paused);
}
