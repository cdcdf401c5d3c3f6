#pragma once

#include "import/Expected.h"
#include "import/PasteDatabaseReader.h"
#include "import/PasteImportSummary.h"

#include <QHash>
#include <QSemaphore>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>

class StoreContainer;
class StoreContext;
class UserDefaults;

// Brings what the reader streams out of Paste's database into the store, on a background
// context of its own ("paste-import"): skips what is already here, turns pinboards into
// labels (matched without regard to case) and pins their items, keeps Paste's dates, saves
// every 50 clips, and finally trims the history to the limit. Images are normalised on a
// small pool of threads while the reader goes on, so that their re-encoding, by far the
// slowest step, uses every core. Lives for one import.
class PasteImporter
{
public:
    PasteImporter(StoreContainer &container, UserDefaults &defaults);
    ~PasteImporter();
    PasteImporter(const PasteImporter &) = delete;
    PasteImporter &operator=(const PasteImporter &) = delete;

    // The limit of unpinned items; by default the "historyLimit" setting, read afresh.
    void setHistoryLimit(std::function<qint64()> historyLimit);

    // Blocking; call it on a worker thread, never on the main thread (the store's merges
    // into the view context go through it). A reader failure ends the import: batches
    // saved before it stay, the rest is dropped, nothing is trimmed.
    Expected<PasteImportSummary, PasteReadFailure> importHistory(const QString &folder,
                                                                 const PasteDatabaseReader::CancelCheck &isCancelled,
                                                                 const PasteDatabaseReader::ProgressHandler &progress);

    StoreContext &context() const { return *m_context; }

private:
    // On the reader's thread: hands the clip to the context's queue, its image to the pool.
    void submit(PasteClip &&clip);
    // These run on the context's queue.
    QString resolveLabel(const QString &name);
    bool insertClip(const PasteClip &clip, const std::optional<QString> &labelID);
    void takeClip(const PasteClip &clip);
    void saveBatch();

    std::shared_ptr<StoreContext> m_context;
    std::function<qint64()> m_historyLimit;
    QThreadPool m_normalizers;
    // Kilobytes of clips read but not yet in the context: keeps memory flat when the
    // reader runs ahead.
    QSemaphore m_waitingBudget;

    // One run's state, touched only on the context's queue.
    PasteImportSummary m_summary;
    QHash<QString, QString> m_labelCache; // lower-cased pinboard name -> label id text
    int m_batch = 0;
    // Counted into the summary once their batch is saved.
    int m_importedInBatch = 0;
    int m_labelsInBatch = 0;
};
