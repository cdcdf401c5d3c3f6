#pragma once

#include <QString>

// What one import did.
struct PasteImportSummary {
    qint64 imported = 0;
    qint64 duplicates = 0;
    qint64 undecodable = 0;
    qint64 skippedBeyondLimit = 0;
    qint64 pinboardsCreated = 0;
    bool cancelled = false;

    bool operator==(const PasteImportSummary &) const = default;
};

// The outcome line shown after an import, e.g. "Imported 1203 items and 2 pinboards as
// labels (skipped 40 already here, 3 unreadable) — stopped early."
QString sentence(const PasteImportSummary &summary);
