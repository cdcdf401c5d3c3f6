#include "import/PasteImportController.h"

#include "import/CancelFlag.h"
#include "import/FolderChooser.h"
#include "import/PasteFolder.h"
#include "import/PasteImporter.h"
#include "platform/log/Log.h"

#include <QPointer>
#include <QThread>

namespace {

// Progress reaches the main thread at most once per this many rows, and for the last one.
constexpr qint64 progressReportInterval = 20;

} // namespace

struct PasteImportController::Run {
    std::unique_ptr<PasteImporter> importer;
    QThread *thread = nullptr;
    // Written by the worker; read on the main thread once the thread has finished.
    std::optional<Expected<PasteImportSummary, PasteReadFailure>> result;

    ~Run()
    {
        if (thread)
            thread->wait();
        delete thread;
    }
};

PasteImportController::PasteImportController(StoreContainer &container, UserDefaults &defaults,
                                             FolderChooser *chooser, QObject *parent)
    : QObject(parent)
    , m_container(container)
    , m_defaults(defaults)
    , m_chooser(chooser)
    , m_cancelFlag(std::make_shared<CancelFlag>())
{
}

PasteImportController::~PasteImportController()
{
    if (m_run)
        m_cancelFlag->setValue(true);
    // Run's destructor waits for the worker; the importer goes after it.
    m_run.reset();
}

void PasteImportController::chooseFolderAndImport()
{
    if (isRunning() || !m_chooser)
        return;
    const FolderChoiceRequest request{
        defaultPasteFolder(), QStringLiteral("Import"),
        QStringLiteral("Choose Paste's data folder. It's usually Library \u203A Containers \u203A com.wiheads.paste "
                       "\u203A Data \u203A Library \u203A Application Support \u203A Paste.")};
    m_chooser->chooseFolder(request, [controller = QPointer(this)](std::optional<QString> folder) {
        if (controller && folder)
            controller->startImport(*folder);
    });
}

void PasteImportController::startImport(const QString &folder)
{
    if (isRunning())
        return;
    if (!locateDatabase(folder)) {
        setState(Failed{PasteReadError::databaseNotFound().localizedDescription()});
        return;
    }
    m_cancelFlag->setValue(false);
    setState(Running{});

    m_run = std::make_unique<Run>();
    m_run->importer = std::make_unique<PasteImporter>(m_container, m_defaults);
    Run *run = m_run.get();
    // The controller outlives the worker (its destructor waits), so the worker may post to it.
    run->thread = QThread::create([this, run, folder, flag = m_cancelFlag] {
        const auto isCancelled = [&flag] { return flag->value(); };
        const auto progress = [this](PasteDatabaseReader::Progress report) {
            if (report.done % progressReportInterval != 0 && report.done != report.total)
                return;
            QMetaObject::invokeMethod(this, [this, report] {
                // A report that arrives after the end is stale.
                if (isRunning())
                    setState(Running{report.done, report.total});
            }, Qt::QueuedConnection);
        };
        run->result = run->importer->importHistory(folder, isCancelled, progress);
    });
    run->thread->setObjectName(QStringLiteral("paste-import worker"));
    // Queued to the main thread after every progress report the worker posted.
    connect(run->thread, &QThread::finished, this, &PasteImportController::workerEnded);
    run->thread->start();
}

void PasteImportController::cancel()
{
    m_cancelFlag->setValue(true);
}

void PasteImportController::workerEnded()
{
    if (!m_run)
        return;
    std::unique_ptr<Run> run = std::move(m_run);
    run->thread->wait();
    auto result = std::move(*run->result);
    run.reset(); // the importer and its context go here, on the main thread

    if (result) {
        setState(Finished{*result});
        return;
    }
    const QString message = localizedDescription(result.error());
    klog::error(klog::Category::Import, QStringLiteral("paste import failed: %1").arg(message));
    setState(Failed{message});
}

void PasteImportController::setState(State state)
{
    m_state = std::move(state);
    Q_EMIT stateChanged(m_state);
}
