#pragma once

#include <QString>

#include <cstdint>

namespace tolvex {

class GuardedPathCache;
class StoreContext;

// The storage budget: what a new payload of some size may take from the
// library's total and from the volume's free space.
class StorageBudgetCheck {
public:
    explicit StorageBudgetCheck(const StoreContext& context) : context_(context) {}

    // How the bytes already used are counted.
    enum class Count {
        // Every folder listed, every entry guarded and inspected.
        fullWalk,
        // As imports count them (for now the same walk).
        cached,
    };

    // The bytes of every file below a folder of the data root, walked whole.
    // A link below it is invalidPath; a total past the 64-bit range budgetExceeded.
    std::int64_t retainedBytes(const QString& relativePath) const;

    // Holds exactly when bytes <= maxFileBytes, used + bytes <= maxMaterialBytes
    // and available >= bytes + minimumFreeBytes; else budgetExceeded. Counted as
    // used: "Materials", "Drafts", "Exports" and the staging files.
    void checkBudget(std::int64_t bytes, Count count = Count::fullWalk) const;

private:
    std::int64_t retainedBytes(const QString& relativePath, GuardedPathCache& guard) const;
    // The used bytes by a walk of every folder.
    std::int64_t usedByFullWalk() const;

    const StoreContext& context_;
};

} // namespace tolvex
