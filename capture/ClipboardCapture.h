#pragma once

#include "capture/ClipboardPayload.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class ClipItem;
class StoreContainer;
class StoreContext;
class UserDefaults;
struct SaveNotification;
struct RemoteChange;

// Turns clipboard payloads into stored items on one background context ("capture"), one
// after another in arrival order, folding older duplicates into the new item and keeping
// the unpinned history within the limit. The same context hosts store maintenance:
// healing after the view context's saves, collapsing duplicates after outside changes,
// and the one-time migrations. Created and called on the main thread.
class ClipboardCapture : public QObject
{
    Q_OBJECT

public:
    // What a user edit in the view context means for its group of equal items.
    struct HealRecord {
        qint64 contentHash = 0;
        bool isPinned = false;
        std::optional<QString> labelID;
        std::optional<QString> title;
    };

    using Completion = std::function<void()>;

    ClipboardCapture(StoreContainer &container, UserDefaults &defaults);
    ~ClipboardCapture() override;

    // The limit the next capture uses; by default the "historyLimit" setting read afresh.
    void setHistoryLimit(std::function<qint64()> historyLimit);

    // Schedules one capture and returns at once. The completion runs on the capture
    // context's queue after the save attempt, whether or not it succeeded.
    void capture(ClipboardPayload payload, Completion completion = {});
    // The same; the completion learns the id of the saved item, or none when the save failed.
    void captureWithResult(ClipboardPayload payload, std::function<void(std::optional<QUuid> savedId)> completion);

    // Deletes the unpinned items beyond the newest `limit` saved ones. On the caller's
    // context and queue; the import uses it too.
    static void trimHistory(qint64 limit, StoreContext &context);
    // Any limit below 51, zero and negative values included, acts as 50.
    static qint64 effectiveHistoryLimit(qint64 limit);
    // The content as it is stored: an image re-encoded by normalizedImageData, or kept as
    // read when that gives none; texts and file lists as they are.
    static ClipboardPayload::Content normalizedContent(ClipboardPayload::Content content);
    // A new item's kind and content from normalised content; the import fills its items
    // the same way.
    static void fillContent(ClipItem &item, const ClipboardPayload::Content &content);

    void collapseAllDuplicates(Completion completion = {});
    void heal(QList<HealRecord> records, Completion completion = {});
    void runAttributionMigration(Completion completion = {});
    void runHashMigration(Completion completion = {});

    StoreContext &context() const { return *m_context; }

private:
    // Runs the block on the capture context, unless this object is being destroyed.
    void schedule(std::function<void()> block);
    std::optional<QUuid> captureNow(const ClipboardPayload &payload, qint64 limit);
    void absorbDuplicates(const std::shared_ptr<class ClipItem> &item);
    void healNow(const QList<HealRecord> &records);
    void collapseNow(const Completion &completion);
    bool attributionMigrationNow();
    bool hashMigrationNow();

    void viewContextDidSave(const SaveNotification &notification);
    void storeDidChangeRemotely();

    StoreContainer &m_container;
    UserDefaults &m_defaults;
    std::shared_ptr<StoreContext> m_context;
    std::function<qint64()> m_historyLimit;
    bool m_remoteCollapseScheduled = false;
    std::atomic<bool> m_stopping = false;
    QList<QMetaObject::Connection> m_observers;
};
