#pragma once

#include <cstdint>

namespace tolvex {

// The storage limits the store enforces.
struct StorageBudget {
    // The largest single payload accepted.
    std::int64_t maxFileBytes = 0;
    // The largest total of stored bytes.
    std::int64_t maxMaterialBytes = 0;
    // Free space on the volume that must remain after a write.
    std::int64_t minimumFreeBytes = 0;

    // The application's budget: 256 MiB per file, 2 GiB in all, 512 MiB kept free.
    static StorageBudget standard() { return {268435456, 2147483648, 536870912}; }
};

} // namespace tolvex
