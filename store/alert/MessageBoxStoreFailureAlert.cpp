#include "store/alert/MessageBoxStoreFailureAlert.h"

#include <QMessageBox>

std::unique_ptr<QMessageBox> MessageBoxStoreFailureAlert::makeMessageBox(const QString &messageText,
                                                                         const QString &informativeText,
                                                                         const QString &buttonTitle)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, QStringLiteral("Kestrelnote"), messageText);
    box->setInformativeText(informativeText);
    box->setDefaultButton(box->addButton(buttonTitle, QMessageBox::AcceptRole));
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    return box;
}

void MessageBoxStoreFailureAlert::show(const QString &messageText, const QString &informativeText,
                                       const QString &buttonTitle)
{
    auto box = makeMessageBox(messageText, informativeText, buttonTitle);
    box->show();
    box->raise();
    box->activateWindow();
    box->exec();
}
