#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

class ClipboardCapture;
class FrontApplicationProvider;
class Pasteboard;
class StoreContainer;
class UserDefaults;

// Watches the clipboard's change counter four times a second on the main thread and
// hands each new, acceptable change to the capture. Contents present when it starts are
// not captured. The paste service keeps lastChangeCount in step with its own writes so
// they are never captured.
class ClipboardMonitor : public QObject
{
    Q_OBJECT
    // While true, changes are consumed without being captured. Not persisted.
    Q_PROPERTY(bool paused READ isPaused WRITE setPaused NOTIFY pausedChanged)

public:
    static constexpr int pollIntervalMs = 250;

    ClipboardMonitor(StoreContainer &container, Pasteboard &pasteboard,
                     FrontApplicationProvider &frontApplication, UserDefaults &defaults);
    ~ClipboardMonitor() override;

    ClipboardCapture &capture() const { return *m_capture; }

    // Begins polling; a second call does nothing.
    void start();
    bool isStarted() const { return m_timer != nullptr; }
    // Checks the clipboard once now.
    void poll();

    qint64 lastChangeCount() const { return m_lastChangeCount; }
    void setLastChangeCount(qint64 changeCount) { m_lastChangeCount = changeCount; }

    bool isPaused() const { return m_paused; }
    void setPaused(bool paused);

    Pasteboard &pasteboard() const { return m_pasteboard; }

Q_SIGNALS:
    void pausedChanged(bool paused);

private:
    Pasteboard &m_pasteboard;
    FrontApplicationProvider &m_frontApplication;
    std::unique_ptr<ClipboardCapture> m_capture;
    std::unique_ptr<QTimer> m_timer;
    qint64 m_lastChangeCount = 0;
    bool m_paused = false;
};
