#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace tolvex {

// One entry of "Transactions" other than a journal.
struct StagingRecoveryItem {
    enum class Disposition { unowned, referenced, needsInspection };

    // Relative to the data root.
    QString relativePath;
    std::optional<std::int64_t> byteCount;
    Disposition disposition = Disposition::needsInspection;

    friend bool operator==(const StagingRecoveryItem& a, const StagingRecoveryItem& b);
};

} // namespace tolvex
