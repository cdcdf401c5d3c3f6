#pragma once

#include "import/PasteImportSummary.h"

#include <QObject>
#include <QString>

#include <memory>
#include <variant>

class CancelFlag;
class FolderChooser;
class PasteImporter;
class QThread;
class StoreContainer;
class UserDefaults;

// The import from Paste as the user sees it: asks for Paste's data folder, runs the import
// on a worker thread, publishes its progress and outcome, and lets the user cancel. At most
// one import runs at a time. Lives on the main thread and is used only there.
class PasteImportController : public QObject
{
    Q_OBJECT

public:
    // An import is in progress: rows stepped out of rows counted (both 0 until the first report).
    struct Running {
        qint64 done = 0;
        qint64 total = 0;
        bool operator==(const Running &) const = default;
    };
    // The last import ended, completely or cancelled.
    struct Finished {
        PasteImportSummary summary;
        bool operator==(const Finished &) const = default;
    };
    // The last import did not start or stopped with an error; the text says why.
    struct Failed {
        QString message;
        bool operator==(const Failed &) const = default;
    };
    // Nothing imported since launch.
    struct Idle {
        bool operator==(const Idle &) const = default;
    };
    using State = std::variant<Running, Finished, Failed, Idle>;

    // The chooser may be null where no folder can be asked for (the command line).
    PasteImportController(StoreContainer &container, UserDefaults &defaults, FolderChooser *chooser = nullptr,
                          QObject *parent = nullptr);
    // Cancels a running import and waits for it to end.
    ~PasteImportController() override;

    const State &state() const { return m_state; }
    bool isRunning() const { return std::holds_alternative<Running>(m_state); }

    // "Import History…": asks for the folder, then imports it. Ignored while running.
    void chooseFolderAndImport();
    // Starts an import of the folder. Ignored while running; a folder without Paste's
    // database fails at once, without starting anything.
    void startImport(const QString &folder);
    // The running import stops after the row it is on and ends as finished, cancelled.
    void cancel();

Q_SIGNALS:
    // After every change of state, progress reports included.
    void stateChanged(const PasteImportController::State &state);

private:
    void setState(State state);
    void workerEnded();

    StoreContainer &m_container;
    UserDefaults &m_defaults;
    FolderChooser *m_chooser;
    State m_state = Idle{};
    std::shared_ptr<CancelFlag> m_cancelFlag;

    // The run in flight: its thread, its importer (made and destroyed here, on the main
    // thread), and where the worker leaves its result.
    struct Run;
    std::unique_ptr<Run> m_run;
};
