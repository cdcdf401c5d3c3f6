#include "import/PasteImporter.h"

#include "capture/ClipboardCapture.h"
#include "capture/ContentHash.h"
#include "capture/SaveContext.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "store/ClipItem.h"
#include "store/ClipLabel.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QFuture>
#include <QThread>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

constexpr int batchSize = 50;
constexpr int waitingBudgetKilobytes = 8 * 1024;
// Each normaliser may hold a decoded image of up to 256 MB.
constexpr int maxNormalizers = 4;
// New labels take the label palette's colours in turn.
constexpr qint64 labelPaletteColorCount = 8;

const QString importLabel = QStringLiteral("paste import");
const QString pruneLabel = QStringLiteral("paste import prune");

int contentKilobytes(const ClipboardPayload::Content &content)
{
    qint64 bytes = 0;
    if (const auto *text = std::get_if<ClipboardPayload::Text>(&content))
        bytes = text->text.size() * 2 + (text->rtfData ? text->rtfData->size() : 0);
    else if (const auto *image = std::get_if<ClipboardPayload::Image>(&content))
        bytes = image->bytes.size();
    else if (const auto *files = std::get_if<ClipboardPayload::File>(&content))
        bytes = (files->names.size() + files->paths.size()) * 2;
    // A clip larger than the whole budget waits until nothing else does.
    return int(std::min<qint64>(bytes / 1024 + 1, waitingBudgetKilobytes));
}

} // namespace

PasteImporter::PasteImporter(StoreContainer &container, UserDefaults &defaults)
    : m_context(container.newBackgroundContext())
    , m_historyLimit([&defaults] { return defaults.integer(SettingsKey::historyLimit); })
    , m_waitingBudget(waitingBudgetKilobytes)
{
    m_normalizers.setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 1, maxNormalizers));
    m_context->setName(QStringLiteral("paste-import"));
    m_context->setTransactionAuthor(QStringLiteral("paste-import"));
    m_context->setMergePolicy(StoreContext::MergePolicy::PropertyObjectTrump);
}

PasteImporter::~PasteImporter() = default;

void PasteImporter::setHistoryLimit(std::function<qint64()> historyLimit)
{
    m_historyLimit = std::move(historyLimit);
}

Expected<PasteImportSummary, PasteReadFailure>
PasteImporter::importHistory(const QString &folder, const PasteDatabaseReader::CancelCheck &isCancelled,
                             const PasteDatabaseReader::ProgressHandler &progress)
{
    const qint64 limit = ClipboardCapture::effectiveHistoryLimit(m_historyLimit());
    m_summary = {};
    m_labelCache.clear();
    m_batch = 0;
    m_importedInBatch = 0;
    m_labelsInBatch = 0;

    const PasteDatabaseReader reader(folder);
    const auto outcome = reader.readClips(limit, isCancelled, progress, [this](PasteClip &&clip) {
        submit(std::move(clip));
        return std::optional<ClipError>();
    });
    // Every block below runs after the clips still waiting on the queue.
    if (!outcome) {
        // The unsaved part of the current batch goes; saved batches stay.
        m_context->performAndWait([this] { m_context->rollback(); });
        return unexpected(outcome.error());
    }
    m_summary.undecodable = outcome->undecodable;
    m_summary.skippedBeyondLimit = outcome->skippedBeyondLimit;
    m_summary.cancelled = outcome->cancelled;

    m_context->performAndWait([this, limit] {
        // The trim only sees saved items: save first.
        saveBatch();
        ClipboardCapture::trimHistory(limit, *m_context);
        saveContext(*m_context, pruneLabel, klog::Category::Import);
    });
    klog::notice(klog::Category::Import,
                 QStringLiteral("paste import: %1 imported, %2 duplicate, %3 undecodable, %4 beyond limit, cancelled=%5")
                     .arg(m_summary.imported)
                     .arg(m_summary.duplicates)
                     .arg(m_summary.undecodable)
                     .arg(m_summary.skippedBeyondLimit)
                     .arg(m_summary.cancelled ? QStringLiteral("true") : QStringLiteral("false")));
    return m_summary;
}

void PasteImporter::submit(PasteClip &&clip)
{
    const int kilobytes = contentKilobytes(clip.content);
    m_waitingBudget.acquire(kilobytes);
    QFuture<ClipboardPayload::Content> content;
    if (std::holds_alternative<ClipboardPayload::Image>(clip.content)) {
        content = QtConcurrent::run(&m_normalizers, &ClipboardCapture::normalizedContent, std::move(clip.content));
        clip.content = {};
    }
    m_context->perform([this, clip = std::move(clip), content, kilobytes]() mutable {
        if (content.isValid())
            clip.content = content.result();
        takeClip(clip);
        m_waitingBudget.release(kilobytes);
    });
}

void PasteImporter::takeClip(const PasteClip &clip)
{
    std::optional<QString> labelID;
    if (clip.pinboard)
        labelID = resolveLabel(*clip.pinboard);
    if (insertClip(clip, labelID))
        ++m_importedInBatch;
    else
        ++m_summary.duplicates;

    if (++m_batch >= batchSize) {
        saveBatch();
        // Let go of what the batch loaded, so memory stays flat over long imports.
        m_context->refreshAll();
        m_batch = 0;
    }
}

void PasteImporter::saveBatch()
{
    // A failed save rolls back the batch's items and the labels it made: they are not
    // counted, later items must not refer to those labels, and a pinboard whose label is
    // made again counts once.
    if (saveContext(*m_context, importLabel, klog::Category::Import)) {
        m_summary.imported += m_importedInBatch;
        m_summary.pinboardsCreated += m_labelsInBatch;
    } else {
        m_labelCache.clear();
    }
    m_importedInBatch = 0;
    m_labelsInBatch = 0;
}

QString PasteImporter::resolveLabel(const QString &name)
{
    const QString key = name.toLower();
    if (const auto cached = m_labelCache.constFind(key); cached != m_labelCache.cend())
        return *cached;

    FetchRequest byName = FetchRequest::of<ClipLabel>();
    byName.setPredicate(Predicate::equal(QStringLiteral("name"), name, TextComparison::CaseInsensitive));
    byName.setFetchLimit(1);
    if (const auto found = m_context->fetch<ClipLabel>(byName); found && !found->isEmpty()) {
        if (const auto id = found->first()->id()) {
            const QString text = uuidString(*id);
            m_labelCache.insert(key, text);
            return text;
        }
    }

    const auto labels = m_context->count(FetchRequest::of<ClipLabel>());
    const qint64 existing = labels ? *labels : 0;
    const auto label = m_context->insert<ClipLabel>();
    const QUuid id = QUuid::createUuid();
    label->setId(id);
    label->setName(name);
    label->setColorIndex(qint16(existing % labelPaletteColorCount));
    label->setCreatedAt(QDateTime::currentDateTimeUtc());
    ++m_labelsInBatch;
    const QString text = uuidString(id);
    m_labelCache.insert(key, text);
    return text;
}

bool PasteImporter::insertClip(const PasteClip &clip, const std::optional<QString> &labelID)
{
    const auto item = m_context->insert<ClipItem>();
    ClipboardCapture::fillContent(*item, clip.content);
    item->setContentHash(computeContentHash(item->plainText(), item->imageData()));

    FetchRequest sameHash = FetchRequest::of<ClipItem>();
    sameHash.setPredicate(Predicate::equal(QStringLiteral("contentHash"), item->contentHash()));
    const auto candidates = m_context->fetch<ClipItem>(sameHash);
    if (candidates) {
        for (const ClipItemPtr &existing : *candidates) {
            if (existing == item || existing->isDeleted() || !sameContent(*item, *existing))
                continue;
            // The item already here keeps its id, date, source and place; it only gains
            // what it lacked.
            m_context->deleteObject(item);
            if (labelID) {
                if (!existing->isPinned())
                    existing->setPinned(true);
                if (!existing->labelID())
                    existing->setLabelID(labelID);
            }
            if (!cardTitle(*existing) && existing->title() != clip.title)
                existing->setTitle(clip.title);
            return false;
        }
    }

    item->setId(QUuid::createUuid());
    item->setCreatedAt(clip.createdAt);
    item->setSourceAppName(clip.sourceAppName);
    item->setSourceBundleID(clip.sourceBundleID);
    item->setPinned(labelID.has_value());
    item->setLabelID(labelID);
    item->setTitle(clip.title);
    return true;
}
