#pragma once

#include "capture/ClipboardPayload.h"
#include "import/Expected.h"
#include "import/PasteReadError.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

// One stored Paste item, decoded.
struct PasteClip {
    ClipboardPayload::Content content;
    QDateTime createdAt;
    std::optional<QString> sourceAppName;
    std::optional<QString> sourceBundleID;
    std::optional<QString> pinboard; // trimmed, never empty
    std::optional<QString> title;    // trimmed, never empty
};

// What one read did.
struct ReadOutcome {
    qint64 total = 0;              // rows of the item table, counted before reading
    qint64 delivered = 0;          // clips handed to the caller
    qint64 undecodable = 0;        // rows that gave no content
    qint64 skippedBeyondLimit = 0; // history rows beyond the limit, never decoded
    bool cancelled = false;        // true unless the rows ran out
    bool operator==(const ReadOutcome &) const = default;
};

// Streams the items of Paste's database in a data folder, newest first. Paste's own files
// are only ever copied: SQLite works on a private copy that is gone when the read ends.
class PasteDatabaseReader
{
public:
    struct Progress {
        qint64 done = 0;  // rows stepped so far, skipped and unreadable ones included
        qint64 total = 0; // rows counted before reading
    };

    using CancelCheck = std::function<bool()>;
    using ProgressHandler = std::function<void(Progress)>;
    // Takes one clip; a returned error ends the read with it.
    using ClipHandler = std::function<std::optional<ClipError>(PasteClip &&)>;

    explicit PasteDatabaseReader(QString folder) : m_folder(std::move(folder)) { }

    const QString &folder() const { return m_folder; }
    std::optional<QString> locateDatabase() const;

    // Reads every row on the calling thread, calling the three functions on it: isCancelled
    // before the first row and after each, progress after each row, onClip for each clip.
    // History rows (rows without a pinboard) beyond `limit` are counted, not decoded; none
    // means no limit. Clips handed over before a failure stay with the caller.
    Expected<ReadOutcome, PasteReadFailure> readClips(std::optional<qint64> limit, const CancelCheck &isCancelled,
                                                      const ProgressHandler &progress,
                                                      const ClipHandler &onClip) const;

private:
    QString m_folder;
};
