#pragma once

#include <QString>

// The one alert the store shows: the history could not be opened. Behind an interface so
// that tests see it without a display; the application shows a message box.
class StoreFailureAlert
{
public:
    virtual ~StoreFailureAlert() = default;
    // Shows a critical alert with one button and returns when the user has answered.
    virtual void show(const QString &messageText, const QString &informativeText, const QString &buttonTitle) = 0;
};
