#pragma once

#include <Qt>

// How a click on a card changes the selection.
enum class SelectionModifier { Replace, Toggle, Extend };

// Shift extends, and wins over Control; Control (the file browsers' add-to-selection key
// here) toggles; a plain click replaces.
inline SelectionModifier selectionModifier(Qt::KeyboardModifiers keys)
{
    if (keys.testFlag(Qt::ShiftModifier))
        return SelectionModifier::Extend;
    if (keys.testFlag(Qt::ControlModifier))
        return SelectionModifier::Toggle;
    return SelectionModifier::Replace;
}
