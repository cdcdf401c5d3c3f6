#pragma once

#include <QString>

// The keystroke that makes an application paste.
enum class PasteKeystroke {
    ControlV,      // ordinary applications
    ControlShiftV, // most terminal emulators (Ctrl+V is a control character there)
    ShiftInsert,   // xterm, rxvt and kin; they paste the primary selection
};

// The keystroke for a window, by its WM_CLASS instance or class (case-insensitive).
PasteKeystroke pasteKeystrokeForWindowClass(const QString &instance, const QString &wmClass);

// The keystroke's name for logs: "Ctrl+V", "Ctrl+Shift+V", "Shift+Insert".
QString pasteKeystrokeName(PasteKeystroke keystroke);

// Whether the keystroke pastes the primary selection rather than the clipboard.
inline bool pastesPrimarySelection(PasteKeystroke keystroke)
{
    return keystroke == PasteKeystroke::ShiftInsert;
}
