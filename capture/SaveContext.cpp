#include "capture/SaveContext.h"

#include "store/StoreContext.h"

bool saveContext(StoreContext &context, const QString &label, klog::Category category)
{
    if (!context.hasChanges())
        return true;
    const StoreResult<void> saved = context.save();
    if (saved)
        return true;
    klog::error(category, QStringLiteral("%1 save failed: %2").arg(label, saved.error().localizedDescription()));
    context.rollback();
    return false;
}
