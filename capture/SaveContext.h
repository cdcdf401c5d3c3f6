#pragma once

#include "platform/log/Log.h"

#include <QString>

class StoreContext;

// The one save step of every writer: saves the context when it has changes; on failure
// logs "<label> save failed: <reason>" in the caller's category, rolls every unsaved
// change back and returns false. Call on the context's queue.
bool saveContext(StoreContext &context, const QString &label,
                 klog::Category category = klog::Category::Capture);
