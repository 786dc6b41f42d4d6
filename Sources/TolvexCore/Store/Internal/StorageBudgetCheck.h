#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace tolvex {

class GuardedPathCache;
class StoreContext;

// The storage budget: what a new payload of some size may take from the
// library's total and from the volume's free space.
class StorageBudgetCheck {
public:
    explicit StorageBudgetCheck(const StoreContext& context) : context_(context) {}

    // How the bytes already used are counted. Both give the same total and
    // the same error for the same tree.
    enum class Count {
        // Every folder listed, every entry guarded and inspected.
        fullWalk,
        // Every entry inspected again, but a folder that cannot have changed
        // since the last check is not listed again (StoreContext::budgetFolders).
        remembered,
    };

    // The bytes of every file below a folder of the data root, walked whole.
    // A link below it is invalidPath; a total past the 64-bit range budgetExceeded.
    std::int64_t retainedBytes(const QString& relativePath) const;

    // "Materials", "Drafts", "Exports" and the staging files: what the budget counts as used.
    std::int64_t usedBytes(Count count = Count::remembered) const;

    // Holds exactly when bytes <= maxFileBytes, used + bytes <= maxMaterialBytes
    // and available >= bytes + minimumFreeBytes; else budgetExceeded.
    void checkBudget(std::int64_t bytes, Count count = Count::remembered) const;

private:
    std::int64_t retainedBytes(const QString& relativePath, GuardedPathCache& guard) const;
    std::int64_t usedByFullWalk() const;
    // The used bytes from the kept listings and a fresh look at every entry;
    // absent whenever anything is not as a clean count expects it (an error,
    // a link, an overflow, a file layer without identities): the full walk
    // then gives the answer.
    std::optional<std::int64_t> usedByRememberedFolders() const;

    const StoreContext& context_;
};

} // namespace tolvex
