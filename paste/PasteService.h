#pragma once

#include "paste/PasteboardEntry.h"
#include "platform/keystroke/PasteKeystrokePoster.h"

#include <QObject>
#include <QPointer>

#include <functional>

class ClipItem;
class ClipboardMonitor;

// Puts one history item back on the clipboard and, where synthetic keystrokes reach other
// applications, makes the window the user was in paste it. The monitor's change counter is
// kept in step, so the write is never captured as a new copy. Main thread only.
class PasteService : public QObject
{
    Q_OBJECT

public:
    // Delay between the write and the keystroke, so the clipboard owner is settled.
    static constexpr int keystrokeDelayMs = 120;

    PasteService(ClipboardMonitor &monitor, PasteKeystrokePoster &poster);

    // Shown once per session when an item could only be copied: how to paste by hand.
    void setExplanationPresenter(std::function<void(const QString &text)> present);
    static QString manualPasteExplanation();

    // Lets the monitor capture an outside copy it has not seen yet, then writes the
    // item's entries and records the new change count.
    void copy(const ClipItem &item, PasteStyle style);
    // copy, then the paste keystroke 0.12 s later.
    void paste(const ClipItem &item, PasteStyle style);
    // The shelf's choice: paste where keystrokes can be sent, else copy and explain.
    void pasteOrCopy(const ClipItem &item, PasteStyle style);

    void postCommandV();
    bool hasPostEventAccess() const;
    // Nothing to grant on Linux: explains how to paste instead (once per session).
    void requestPostEventAccess();

private:
    void keystrokeFinished(PasteKeystrokeOutcome outcome);

    ClipboardMonitor &m_monitor;
    QPointer<PasteKeystrokePoster> m_poster;
    std::function<void(const QString &)> m_presentExplanation;
    bool m_explained = false;
};
