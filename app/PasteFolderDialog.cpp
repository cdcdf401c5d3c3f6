#include "app/PasteFolderDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>

PasteFolderDialog::~PasteFolderDialog()
{
    delete m_dialog;
}

void PasteFolderDialog::chooseFolder(const FolderChoiceRequest &request, Completion done)
{
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    auto *dialog = new QFileDialog(QApplication::activeWindow());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog: a platform one may hide hidden folders and has no room for the message.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFilter(dialog->filter() | QDir::Hidden);
    dialog->setDirectory(request.startFolder);
    dialog->setLabelText(QFileDialog::Accept, request.prompt);
    dialog->setWindowTitle(request.prompt);
    if (auto *grid = qobject_cast<QGridLayout *>(dialog->layout())) {
        auto *message = new QLabel(request.message, dialog);
        message->setObjectName(QStringLiteral("pasteFolderMessage"));
        message->setWordWrap(true);
        grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
    }
    QObject::connect(dialog, &QFileDialog::finished, dialog, [this, dialog, done = std::move(done)](int result) {
        // It is deleted only later: a request from here on needs a dialog of its own.
        m_dialog = nullptr;
        const QStringList chosen = dialog->selectedFiles();
        if (result == QDialog::Accepted && !chosen.isEmpty())
            done(chosen.first());
        else
            done(std::nullopt);
    });
    m_dialog = dialog;
    if (dialog->parentWidget())
        dialog->open(); // window-modal, a sheet on the settings window
    else
        dialog->show();
}
