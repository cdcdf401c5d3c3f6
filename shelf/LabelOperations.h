#pragma once

#include "store/ClipLabel.h"
#include "store/FetchRequest.h"

#include <QString>

class StoreContext;

// The four label operations. Each saves through saveContext (logged under
// "persistence" on failure, and rolled back). Names lose the spaces and tabs around them;
// a blank name is refused silently. The three without a result return false only when
// their save failed.

// The new label, or none for a blank name or a failed save.
ClipLabelPtr createLabel(const QString &name, int colorIndex, StoreContext &context);
bool renameLabel(const ClipLabelPtr &label, const QString &name, StoreContext &context);
bool recolorLabel(const ClipLabelPtr &label, int colorIndex, StoreContext &context);
// Takes the label off every item filed under it, then deletes it.
bool deleteLabel(const ClipLabelPtr &label, StoreContext &context);

// All labels, oldest first.
FetchRequest labelListRequest();
