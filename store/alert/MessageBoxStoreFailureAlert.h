#pragma once

#include "store/StoreFailureAlert.h"

#include <memory>

class QMessageBox;

// The store failure alert as a critical message box with one button, brought to the front.
class MessageBoxStoreFailureAlert : public StoreFailureAlert
{
public:
    void show(const QString &messageText, const QString &informativeText, const QString &buttonTitle) override;

    // The box as show() runs it, for checking its texts without running it.
    static std::unique_ptr<QMessageBox> makeMessageBox(const QString &messageText, const QString &informativeText,
                                                       const QString &buttonTitle);
};
