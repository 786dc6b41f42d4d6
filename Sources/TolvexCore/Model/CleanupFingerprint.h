#pragma once

#include "TolvexCore/Model/Date.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace tolvex {

// The recorded state of one file or folder inside a cleanup target.
struct CleanupFingerprint {
    // Relative to the target, "/" between components; empty for the target itself.
    QString path;
    bool directory = false;
    // 0 for a folder.
    std::int64_t bytes = 0;
    Date modifiedAt;
    // Absent for a folder.
    std::optional<QString> sha256;

    friend bool operator==(const CleanupFingerprint& a, const CleanupFingerprint& b);
};

} // namespace tolvex
