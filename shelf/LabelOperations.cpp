#include "shelf/LabelOperations.h"

#include "capture/SaveContext.h"
#include "store/ClipItem.h"
#include "store/StoreContext.h"

#include <QDateTime>

namespace {

// Spaces and tabs only: a line break in a name is kept as typed.
QString trimmedName(const QString &name)
{
    qsizetype begin = 0;
    qsizetype end = name.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(name.at(begin)))
        ++begin;
    while (end > begin && blank(name.at(end - 1)))
        --end;
    return name.mid(begin, end - begin);
}

bool isUsable(const ClipLabelPtr &label, const StoreContext &context)
{
    return label && !label->isDeleted() && context.owns(*label);
}

} // namespace

ClipLabelPtr createLabel(const QString &name, int colorIndex, StoreContext &context)
{
    const QString trimmed = trimmedName(name);
    if (trimmed.isEmpty())
        return nullptr;
    ClipLabelPtr label = context.insert<ClipLabel>();
    label->setId(QUuid::createUuid());
    label->setName(trimmed);
    label->setColorIndex(qint16(colorIndex));
    label->setCreatedAt(QDateTime::currentDateTimeUtc());
    if (!saveContext(context, QStringLiteral("create label"), klog::Category::Persistence))
        return nullptr;
    return label;
}

bool renameLabel(const ClipLabelPtr &label, const QString &name, StoreContext &context)
{
    const QString trimmed = trimmedName(name);
    if (trimmed.isEmpty() || !isUsable(label, context))
        return true;
    label->setName(trimmed);
    return saveContext(context, QStringLiteral("rename label"), klog::Category::Persistence);
}

bool recolorLabel(const ClipLabelPtr &label, int colorIndex, StoreContext &context)
{
    if (!isUsable(label, context))
        return true;
    label->setColorIndex(qint16(colorIndex));
    return saveContext(context, QStringLiteral("recolor label"), klog::Category::Persistence);
}

bool deleteLabel(const ClipLabelPtr &label, StoreContext &context)
{
    if (!isUsable(label, context))
        return true;
    if (const std::optional<QUuid> id = label->id()) {
        FetchRequest request = FetchRequest::of<ClipItem>();
        request.setPredicate(Predicate::equal(QStringLiteral("labelID"), uuidString(*id)));
        if (const auto items = context.fetch<ClipItem>(request)) {
            for (const ClipItemPtr &item : *items)
                item->setLabelID(std::nullopt);
        }
    }
    context.deleteObject(label);
    return saveContext(context, QStringLiteral("delete label"), klog::Category::Persistence);
}

FetchRequest labelListRequest()
{
    FetchRequest request = FetchRequest::of<ClipLabel>();
    request.setSortDescriptors({{QStringLiteral("createdAt"), true}});
    return request;
}
