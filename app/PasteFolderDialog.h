#pragma once

#include "import/FolderChooser.h"

#include <QPointer>

class QFileDialog;

// Asks for a folder with Qt's own folder dialog: window-modal on the active window when
// there is one, otherwise a window of its own. Hidden folders are shown, since Paste's
// blobs live in one. Main thread only.
class PasteFolderDialog : public FolderChooser
{
public:
    ~PasteFolderDialog() override;
    void chooseFolder(const FolderChoiceRequest &request, Completion done) override;

    // The dialog while it is open, for tests.
    QFileDialog *openDialog() const { return m_dialog; }

private:
    QPointer<QFileDialog> m_dialog;
};
