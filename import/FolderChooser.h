#pragma once

#include <QString>

#include <functional>
#include <optional>

// What the user is asked when choosing a folder.
struct FolderChoiceRequest {
    QString startFolder;
    QString prompt;  // the accept button's text
    QString message; // the explanation shown above the folders
};

// Asks the user for one folder: a folder dialog in the application, a script in tests.
class FolderChooser
{
public:
    using Completion = std::function<void(std::optional<QString> folder)>;

    virtual ~FolderChooser() = default;
    // Returns at once; `done` runs later on the main thread with the folder, or with none
    // when the user cancelled.
    virtual void chooseFolder(const FolderChoiceRequest &request, Completion done) = 0;
};
