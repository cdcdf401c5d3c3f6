// import-paste FOLDER: the import from Paste, through the same controller as the app.
#include "app/TerminationSignals.h"
#include "app/cli/CliSession.h"
#include "app/cli/ImportProgress.h"
#include "import/PasteImportController.h"
#include "import/PrivateDatabaseCopy.h"

#include <QEventLoop>

#include <csignal>

#include <unistd.h>

int runImportCommand(CliSession &session, const QStringList &words)
{
    QString error;
    const auto args = Arguments::parse(words, {}, {}, &error);
    if (!args)
        return session.usageError(error);
    if (args->positionals().size() != 1)
        return session.usageError(QStringLiteral("import-paste takes Paste's data folder"));
    if (!session.openStore())
        return ExitCode::failure;

    PasteImportController controller(session.container(), session.defaults());
    ImportProgress progress(session.err(), isatty(STDERR_FILENO) == 1);
    // Ctrl+C, a hang-up or a kill stop the import after the current item, so the summary is
    // printed and the private copy of Paste's database is removed; a second one ends at once,
    // removing the copy first.
    QEventLoop loop;
    TerminationSignals termination;
    bool stopping = false;
    QObject::connect(&termination, &TerminationSignals::received, &controller, [&](int signalNumber) {
        if (stopping) {
            // Ending at once skips the worker's clean-up: the copy of Paste's history goes here.
            PrivateDatabaseCopy::removeAllNow();
            ::signal(signalNumber, SIG_DFL);
            ::raise(signalNumber);
            return;
        }
        stopping = true;
        progress.finish();
        session.err() << "Stopping after the current item (Ctrl+C again to quit at once)...\n";
        session.err().flush();
        controller.cancel();
    });
    QObject::connect(&controller, &PasteImportController::stateChanged, &loop,
                     [&](const PasteImportController::State &state) {
                         if (const auto *running = std::get_if<PasteImportController::Running>(&state))
                             progress.update(running->done, running->total);
                         else
                             loop.quit();
                     });

    controller.startImport(args->positionals().first());
    if (controller.isRunning())
        loop.exec();
    progress.finish();

    if (const auto *finished = std::get_if<PasteImportController::Finished>(&controller.state())) {
        session.out() << sentence(finished->summary) << "\n";
        session.out().flush();
        return ExitCode::ok;
    }
    const auto *failed = std::get_if<PasteImportController::Failed>(&controller.state());
    session.err() << "kestrelnote: " << (failed ? failed->message : QStringLiteral("the import did not run")) << "\n";
    session.err().flush();
    return ExitCode::failure;
}
