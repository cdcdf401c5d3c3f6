#include "platform/keystroke/PasteKeystroke.h"

#include <QSet>

namespace {

// Terminals whose own paste key is Ctrl+Shift+V.
const QSet<QString> controlShiftTerminals{
    QStringLiteral("gnome-terminal"), QStringLiteral("gnome-terminal-server"), QStringLiteral("kgx"),
    QStringLiteral("org.gnome.console"), QStringLiteral("konsole"), QStringLiteral("xfce4-terminal"),
    QStringLiteral("tilix"), QStringLiteral("terminix"), QStringLiteral("alacritty"), QStringLiteral("kitty"),
    QStringLiteral("terminator"), QStringLiteral("mate-terminal"), QStringLiteral("lxterminal"),
    QStringLiteral("qterminal"), QStringLiteral("terminology"), QStringLiteral("sakura"), QStringLiteral("guake"),
    QStringLiteral("tilda"), QStringLiteral("wezterm"), QStringLiteral("org.wezfurlong.wezterm"),
    QStringLiteral("foot"), QStringLiteral("deepin-terminal"), QStringLiteral("io.elementary.terminal"),
    QStringLiteral("st"), QStringLiteral("st-256color"), QStringLiteral("cool-retro-term"),
    QStringLiteral("yakuake"), QStringLiteral("roxterm"), QStringLiteral("termite"),
};

// Terminals that type a literal ^V for both; Shift+Insert pastes the primary selection there.
const QSet<QString> shiftInsertTerminals{
    QStringLiteral("xterm"), QStringLiteral("uxterm"), QStringLiteral("rxvt"), QStringLiteral("urxvt"),
    QStringLiteral("rxvt-unicode"), QStringLiteral("urxvt-256color"), QStringLiteral("aterm"),
    QStringLiteral("eterm"), QStringLiteral("mrxvt"), QStringLiteral("9term"), QStringLiteral("mlterm"),
};

} // namespace

PasteKeystroke pasteKeystrokeForWindowClass(const QString &instance, const QString &wmClass)
{
    for (const QString &name : {instance.toLower(), wmClass.toLower()}) {
        if (shiftInsertTerminals.contains(name))
            return PasteKeystroke::ShiftInsert;
        if (controlShiftTerminals.contains(name))
            return PasteKeystroke::ControlShiftV;
    }
    return PasteKeystroke::ControlV;
}

QString pasteKeystrokeName(PasteKeystroke keystroke)
{
    switch (keystroke) {
    case PasteKeystroke::ControlV:
        return QStringLiteral("Ctrl+V");
    case PasteKeystroke::ControlShiftV:
        return QStringLiteral("Ctrl+Shift+V");
    case PasteKeystroke::ShiftInsert:
        return QStringLiteral("Shift+Insert");
    }
    return QString();
}
