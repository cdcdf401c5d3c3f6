#pragma once

#include "shelf/ShelfFilter.h"
#include "store/FetchRequest.h"

#include <QString>

// What the shelf lists for a search text and a filter: every ClipItem the filter admits whose
// texts contain the search text (case and accents ignored), newest first. The text is used as
// typed, so a single space searches for a space. Reads nothing but its arguments.
FetchRequest makeFetchRequest(const QString &searchText, const ShelfFilter &filter);
