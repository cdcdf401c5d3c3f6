#pragma once

#include "platform/keystroke/PasteKeystrokePoster.h"

#include <QTimer>

// Records keystrokes instead of sending them; tests set availability and secure input.
class FakePasteKeystrokePoster final : public PasteKeystrokePoster
{
public:
    bool isAvailable() const override { return m_available; }
    bool isSecureInputActive() const override { return m_secureInput; }
    void rememberTargetWindow() override { ++m_remembered; }
    bool targetReadsPrimarySelection() const override { return m_targetReadsPrimary; }
    void postPaste() override
    {
        ++m_posted;
        const PasteKeystrokeOutcome outcome =
            m_available ? PasteKeystrokeOutcome::Sent : PasteKeystrokeOutcome::Unavailable;
        QTimer::singleShot(0, this, [this, outcome] { Q_EMIT pasteFinished(outcome); });
    }

    void setAvailable(bool available) { m_available = available; }
    void setSecureInputActive(bool active) { m_secureInput = active; }
    void setTargetReadsPrimarySelection(bool reads) { m_targetReadsPrimary = reads; }
    int rememberedCount() const { return m_remembered; }
    int postedCount() const { return m_posted; }

private:
    bool m_available = true;
    bool m_secureInput = false;
    bool m_targetReadsPrimary = false;
    int m_remembered = 0;
    int m_posted = 0;
};
