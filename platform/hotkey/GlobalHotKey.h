#pragma once

#include <QKeyCombination>
#include <QObject>

// One system-wide key combination whose presses reach this application whatever window is
// in front. Qt::MetaModifier stands for the Super (Windows) key.
class GlobalHotKey : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Makes the combination the one registered key, replacing an earlier one. False, with
    // nothing registered, when another client already holds it or the keyboard lacks it.
    virtual bool registerKey(QKeyCombination combination) = 0;
    // Releases the registered key, if any.
    virtual void unregisterKey() = 0;

Q_SIGNALS:
    // The registered combination was pressed (main thread; key repeat does not count).
    void pressed();
};
