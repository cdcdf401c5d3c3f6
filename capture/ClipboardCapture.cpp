#include "capture/ClipboardCapture.h"

#include "capture/ContentHash.h"
#include "capture/ImageNormalization.h"
#include "capture/SaveContext.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "store/ClipItem.h"
#include "store/StoreContainer.h"
#include "store/StoreContext.h"

#include <QDateTime>
#include <QUuid>

ClipboardCapture::ClipboardCapture(StoreContainer &container, UserDefaults &defaults)
    : m_container(container)
    , m_defaults(defaults)
    , m_context(container.newBackgroundContext())
    , m_historyLimit([this] { return m_defaults.integer(SettingsKey::historyLimit); })
{
    m_context->setName(QStringLiteral("capture"));
    m_context->setTransactionAuthor(QStringLiteral("capture"));
    m_context->setMergePolicy(StoreContext::MergePolicy::PropertyObjectTrump);

    m_observers.append(connect(container.viewContext(), &StoreContext::didSave, this,
                               &ClipboardCapture::viewContextDidSave));
    m_observers.append(connect(&container, &StoreContainer::remoteChange, this,
                               &ClipboardCapture::storeDidChangeRemotely));
}

ClipboardCapture::~ClipboardCapture()
{
    for (const QMetaObject::Connection &observer : std::as_const(m_observers))
        disconnect(observer);
    // Captures already queued are copies the user made: they finish (this object lives
    // until the wait ends).
    m_context->performAndWait([] {});
    // Queued blocks refer to this object. From now on they do nothing and queue nothing;
    // the second wait covers what a block running during the first one queued.
    m_stopping = true;
    m_context->performAndWait([] {});
    m_context->performAndWait([] {});
}

void ClipboardCapture::schedule(std::function<void()> block)
{
    if (m_stopping)
        return;
    m_context->perform([this, block = std::move(block)] {
        if (!m_stopping)
            block();
    });
}

void ClipboardCapture::setHistoryLimit(std::function<qint64()> historyLimit)
{
    m_historyLimit = std::move(historyLimit);
}

void ClipboardCapture::capture(ClipboardPayload payload, Completion completion)
{
    captureWithResult(std::move(payload), [completion = std::move(completion)](std::optional<QUuid>) {
        if (completion)
            completion();
    });
}

void ClipboardCapture::captureWithResult(ClipboardPayload payload,
                                         std::function<void(std::optional<QUuid>)> completion)
{
    const qint64 limit = effectiveHistoryLimit(m_historyLimit());
    schedule([this, payload = std::move(payload), limit, completion = std::move(completion)] {
        const std::optional<QUuid> savedId = captureNow(payload, limit);
        if (completion)
            completion(savedId);
    });
}

std::optional<QUuid> ClipboardCapture::captureNow(const ClipboardPayload &payload, qint64 limit)
{
    const std::shared_ptr<ClipItem> item = m_context->insert<ClipItem>();
    fillContent(*item, normalizedContent(payload.content));
    item->setId(QUuid::createUuid());
    item->setCreatedAt(QDateTime::currentDateTimeUtc());
    item->setSourceAppName(payload.sourceAppName);
    item->setSourceBundleID(payload.sourceBundleID);
    item->setContentHash(computeContentHash(item->plainText(), item->imageData()));

    absorbDuplicates(item);
    trimHistory(limit, *m_context);
    const std::optional<QUuid> id = item->id();
    if (!saveContext(*m_context, QStringLiteral("capture")))
        return std::nullopt;
    klog::debug(klog::Category::Capture, QStringLiteral("captured %1").arg(item->storedKind().value_or(QStringLiteral("?"))));
    return id;
}

void ClipboardCapture::absorbDuplicates(const std::shared_ptr<ClipItem> &item)
{
    FetchRequest request = FetchRequest::of<ClipItem>();
    request.setPredicate(Predicate::equal(QStringLiteral("contentHash"), item->contentHash()));
    const auto older = m_context->fetch<ClipItem>(request);
    if (!older) {
        klog::error(klog::Category::Capture,
                    QStringLiteral("capture: duplicate lookup failed: %1").arg(older.error().localizedDescription()));
        return;
    }
    for (const std::shared_ptr<ClipItem> &other : *older) {
        if (other == item)
            continue;
        // Decide on the store's current values, not on what an earlier fetch cached.
        m_context->refresh(other);
        if (other->isDeleted() || !sameContent(*item, *other))
            continue;
        item->setPinned(item->isPinned() || other->isPinned());
        if (!item->labelID())
            item->setLabelID(other->labelID());
        item->setTitle(cardTitle(*item) ? cardTitle(*item) : cardTitle(*other));
        if (!item->sourceAppName()) {
            item->setSourceAppName(other->sourceAppName());
            item->setSourceBundleID(other->sourceBundleID());
        }
        m_context->deleteObject(other);
    }
}

void ClipboardCapture::trimHistory(qint64 limit, StoreContext &context)
{
    // The saved unpinned items beyond the newest `limit` are the oldest (count - limit) of
    // them. Counting and taking them from the old end costs what is deleted, where skipping
    // `limit` rows from the new end would cost the whole history on every capture.
    // They are counted as all saved items less the pinned ones: SQLite counts a whole table
    // from its pages, where counting the unpinned would step through each of them.
    FetchRequest all = FetchRequest::of<ClipItem>();
    all.setIncludesPendingChanges(false);
    FetchRequest pinned = all;
    pinned.setPredicate(Predicate::equal(QStringLiteral("isPinned"), true));
    const auto savedAll = context.count(all);
    const auto savedPinned = savedAll ? context.count(pinned) : savedAll;
    if (!savedPinned) {
        klog::error(klog::Category::Capture,
                    QStringLiteral("trim history: count failed: %1").arg(savedPinned.error().localizedDescription()));
        return;
    }
    const qint64 saved = *savedAll - *savedPinned;
    if (saved <= limit)
        return;
    FetchRequest unpinned = all;
    unpinned.setPredicate(Predicate::equal(QStringLiteral("isPinned"), false));
    unpinned.setSortDescriptors({{QStringLiteral("createdAt"), true}});
    unpinned.setFetchLimit(int(std::min<qint64>(saved - limit, std::numeric_limits<int>::max())));
    const auto beyondLimit = context.fetch<ClipItem>(unpinned);
    if (!beyondLimit) {
        klog::error(klog::Category::Capture,
                    QStringLiteral("trim history: fetch failed: %1").arg(beyondLimit.error().localizedDescription()));
        return;
    }
    for (const std::shared_ptr<ClipItem> &item : *beyondLimit) {
        // Already on its way out (an absorbed duplicate): refreshing would bring it back.
        if (item->isDeleted())
            continue;
        context.refresh(item);
        if (!item->isDeleted() && !item->isPinned())
            context.deleteObject(item);
    }
}

qint64 ClipboardCapture::effectiveHistoryLimit(qint64 limit)
{
    return limit < 51 ? 50 : limit;
}

ClipboardPayload::Content ClipboardCapture::normalizedContent(ClipboardPayload::Content content)
{
    if (auto *image = std::get_if<ClipboardPayload::Image>(&content)) {
        if (auto normalized = normalizedImageData(image->bytes))
            image->bytes = std::move(*normalized);
    }
    return content;
}

void ClipboardCapture::fillContent(ClipItem &item, const ClipboardPayload::Content &content)
{
    if (const auto *text = std::get_if<ClipboardPayload::Text>(&content)) {
        item.setKind(ClipKind::Text);
        item.setPlainText(text->text);
        item.setRtfData(text->rtfData);
    } else if (const auto *image = std::get_if<ClipboardPayload::Image>(&content)) {
        item.setKind(ClipKind::Image);
        item.setImageData(image->bytes);
    } else if (const auto *files = std::get_if<ClipboardPayload::File>(&content)) {
        item.setKind(ClipKind::File);
        item.setFileName(files->names);
        item.setPlainText(files->paths);
    }
}
