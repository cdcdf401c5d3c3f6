#pragma once

#include <QtGlobal>

#include <chrono>

// How long and how much a clipboard owner may take. Reads run on the main thread, so the
// owner's answers are waited for with deadlines instead of Qt's 5 s per conversion.
struct SelectionReadLimits {
    // The longest wait for any one answer of the owner (the reply, each chunk).
    std::chrono::milliseconds stepTimeout{500};
    // The longest time all reads of one clipboard change take together.
    std::chrono::milliseconds changeBudget{2000};
    // The most bytes one type may deliver; larger contents are not read at all.
    qsizetype maxBytes = qsizetype(256) * 1024 * 1024;
};
