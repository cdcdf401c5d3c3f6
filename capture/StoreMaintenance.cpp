// Store maintenance on the capture context: healing after the user's edits, collapsing
// duplicates that arrived from outside, and the one-time migrations.
#include "capture/ClipboardCapture.h"

#include "capture/ContentHash.h"
#include "capture/SaveContext.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "store/ClipItem.h"
#include "store/StoreContext.h"

#include <QCoreApplication>
#include <QTimer>

#include <optional>

namespace {

constexpr int remoteCollapseDelayMs = 2000;
constexpr int hashMigrationChunk = 50;

// Merges `from` into the survivor `into`: pins add up; label, title and source are kept
// when the survivor has them, else taken over.
void merge(ClipItem &into, const ClipItem &from)
{
    into.setPinned(into.isPinned() || from.isPinned());
    if (!into.labelID())
        into.setLabelID(from.labelID());
    into.setTitle(cardTitle(into) ? cardTitle(into) : cardTitle(from));
    if (!into.sourceAppName()) {
        into.setSourceAppName(from.sourceAppName());
        into.setSourceBundleID(from.sourceBundleID());
    }
}

void runOnMainQueue(const std::function<void()> &block)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), block, Qt::QueuedConnection);
}

} // namespace

void ClipboardCapture::viewContextDidSave(const SaveNotification &notification)
{
    QList<HealRecord> records;
    for (const QList<StoreObjectPtr> *objects : {&notification.updated, &notification.inserted}) {
        for (const StoreObjectPtr &object : *objects) {
            if (const auto item = objectCast<ClipItem>(object))
                records.append({item->contentHash(), item->isPinned(), item->labelID(), cardTitle(*item)});
        }
    }
    if (!records.isEmpty())
        heal(std::move(records));
}

void ClipboardCapture::storeDidChangeRemotely()
{
    if (m_remoteCollapseScheduled)
        return;
    m_remoteCollapseScheduled = true;
    QTimer::singleShot(remoteCollapseDelayMs, this, [this] {
        m_remoteCollapseScheduled = false;
        collapseAllDuplicates();
    });
}

void ClipboardCapture::collapseAllDuplicates(Completion completion)
{
    schedule([this, completion = std::move(completion)] { collapseNow(completion); });
}

void ClipboardCapture::collapseNow(const Completion &completion)
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setPropertiesToFetch({QStringLiteral("contentHash")});
    // In hash order the scan reads the hash index alone, and duplicates are neighbours.
    request.setSortDescriptors({{QStringLiteral("contentHash"), true}});
    const auto hashes = m_context->fetchDictionaries(request);
    if (!hashes) {
        klog::error(klog::Category::Capture,
                    QStringLiteral("collapse duplicates: fetch failed: %1").arg(hashes.error().localizedDescription()));
        if (completion)
            runOnMainQueue(completion);
        return;
    }
    QList<qint64> duplicated;
    std::optional<qint64> previous;
    for (const QVariantMap &row : *hashes) {
        const qint64 hash = row.value(QStringLiteral("contentHash")).toLongLong();
        if (hash == previous && (duplicated.isEmpty() || duplicated.last() != hash))
            duplicated.append(hash);
        previous = hash;
    }
    if (duplicated.isEmpty()) {
        if (completion)
            runOnMainQueue(completion);
        return;
    }
    klog::notice(klog::Category::Capture,
                 QStringLiteral("collapsing %1 duplicated hash group(s) after remote change").arg(duplicated.size()));
    QList<HealRecord> records;
    for (qint64 hash : std::as_const(duplicated))
        records.append({hash, false, std::nullopt, std::nullopt});
    heal(std::move(records), completion);
}

void ClipboardCapture::heal(QList<HealRecord> records, Completion completion)
{
    schedule([this, records = std::move(records), completion = std::move(completion)] {
        healNow(records);
        if (completion)
            completion();
    });
}

void ClipboardCapture::healNow(const QList<HealRecord> &records)
{
    QList<qint64> hashes;
    for (const HealRecord &record : records) {
        if (!hashes.contains(record.contentHash))
            hashes.append(record.contentHash);
    }
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setPredicate(Predicate::in(QStringLiteral("contentHash"), hashes));
    request.setSortDescriptors({{QStringLiteral("createdAt"), false}});
    const auto items = m_context->fetch<ClipItem>(request);
    if (!items) {
        klog::error(klog::Category::Capture,
                    QStringLiteral("collapse duplicates: fetch failed: %1").arg(items.error().localizedDescription()));
        return;
    }

    QList<std::shared_ptr<ClipItem>> kept;
    for (const std::shared_ptr<ClipItem> &item : *items) {
        const auto survivor = std::find_if(kept.cbegin(), kept.cend(),
                                           [&](const auto &k) { return sameContent(*k, *item); });
        if (survivor == kept.cend()) {
            kept.append(item);
            continue;
        }
        merge(**survivor, *item);
        m_context->deleteObject(item);
    }

    for (const HealRecord &record : records) {
        if (!record.isPinned && !record.labelID && !record.title)
            continue;
        const auto survivor = std::find_if(kept.cbegin(), kept.cend(), [&](const auto &k) {
            return k->contentHash() == record.contentHash;
        });
        if (survivor == kept.cend())
            continue;
        ClipItem &item = **survivor;
        item.setPinned(record.isPinned || item.isPinned());
        if (!item.labelID())
            item.setLabelID(record.labelID);
        item.setTitle(cardTitle(item) ? cardTitle(item) : record.title);
    }

    saveContext(*m_context, QStringLiteral("collapse duplicates"));
}

void ClipboardCapture::runAttributionMigration(Completion completion)
{
    if (m_defaults.integer(SettingsKey::sourceAttributionVersion) >= 1) {
        if (completion)
            completion();
        return;
    }
    schedule([this, completion = std::move(completion)] {
        if (attributionMigrationNow())
            collapseAllDuplicates(completion);
        else if (completion)
            completion();
    });
}

bool ClipboardCapture::attributionMigrationNow()
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setPredicate(Predicate::anyOf({
        Predicate::equal(QStringLiteral("sourceBundleID"), lockScreenBundleIDs.at(0)),
        Predicate::equal(QStringLiteral("sourceBundleID"), lockScreenBundleIDs.at(1)),
    }));
    const auto items = m_context->fetch<ClipItem>(request);
    if (!items) {
        klog::error(klog::Category::Capture,
                    QStringLiteral("attribution migration: fetch failed: %1").arg(items.error().localizedDescription()));
        return false;
    }
    for (const std::shared_ptr<ClipItem> &item : *items) {
        item->setSourceAppName(std::nullopt);
        item->setSourceBundleID(std::nullopt);
    }
    if (!saveContext(*m_context, QStringLiteral("attribution migration")))
        return false;
    klog::notice(klog::Category::Capture,
                 QStringLiteral("attribution migration: cleared %1 lock-screen row(s)").arg(items->size()));
    m_defaults.setInteger(SettingsKey::sourceAttributionVersion, 1);
    return true;
}

void ClipboardCapture::runHashMigration(Completion completion)
{
    if (m_defaults.integer(SettingsKey::contentHashVersion) >= 1) {
        if (completion)
            completion();
        return;
    }
    schedule([this, completion = std::move(completion)] {
        hashMigrationNow();
        if (completion)
            completion();
    });
}

bool ClipboardCapture::hashMigrationNow()
{
    // Page through the items oldest first, one chunk per save, holding only that chunk:
    // memory stays flat however large the store is, and items captured meanwhile by
    // another process land after the pages already done.
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setSortDescriptors({{QStringLiteral("createdAt"), true}});
    request.setFetchLimit(hashMigrationChunk);
    for (int offset = 0;; offset += hashMigrationChunk) {
        request.setFetchOffset(offset);
        const auto chunk = m_context->fetch<ClipItem>(request);
        if (!chunk) {
            klog::error(klog::Category::Capture,
                        QStringLiteral("hash migration: fetch failed: %1").arg(chunk.error().localizedDescription()));
            return false;
        }
        for (const std::shared_ptr<ClipItem> &item : *chunk) {
            const qint64 hash = computeContentHash(item->plainText(), item->imageData());
            if (item->contentHash() != hash)
                item->setContentHash(hash);
        }
        if (!saveContext(*m_context, QStringLiteral("hash migration")))
            return false;
        if (chunk->size() < hashMigrationChunk)
            break;
    }
    m_defaults.setInteger(SettingsKey::contentHashVersion, 1);
    return true;
}
