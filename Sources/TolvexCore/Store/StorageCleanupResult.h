#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QUrl>

#include <cstdint>

namespace tolvex {

// What a confirmed cleanup did.
struct StorageCleanupResult {
    WorkspaceSnapshot snapshot;
    // Moved to the Trash and verified there.
    std::int64_t movedCount = 0;
    std::int64_t movedBytes = 0;
    // Failed and still in place.
    std::int64_t failedCount = 0;
    // Ran into an error but no longer in place: fate not confirmed.
    std::int64_t unverifiedCount = 0;
    QUrl receiptURL;
};

} // namespace tolvex
