// Equality and derived values of the storage-cleanup records.
#include "TolvexCore/Model/RecordEquality.h"
#include "TolvexCore/Store/CleanupFingerprint.h"
#include "TolvexCore/Store/CleanupTarget.h"
#include "TolvexCore/Store/StagingRecoveryItem.h"
#include "TolvexCore/Store/StorageCleanupPlan.h"

#include <algorithm>

namespace tolvex {

bool operator==(const CleanupFingerprint& a, const CleanupFingerprint& b)
{
    using RecordEquality::same;
    return same(a.path, b.path) && a.directory == b.directory && a.bytes == b.bytes && a.modifiedAt == b.modifiedAt
        && same(a.sha256, b.sha256);
}

bool operator==(const CleanupTarget& a, const CleanupTarget& b)
{
    using RecordEquality::same;
    return a.kind == b.kind && a.materialID == b.materialID && same(a.title, b.title)
        && same(a.relativePath, b.relativePath) && a.byteCount == b.byteCount && a.fileCount == b.fileCount
        && a.fingerprints == b.fingerprints;
}

bool operator==(const StagingRecoveryItem& a, const StagingRecoveryItem& b)
{
    return RecordEquality::same(a.relativePath, b.relativePath) && a.byteCount == b.byteCount
        && a.disposition == b.disposition;
}

bool operator==(const StorageCleanupPlan& a, const StorageCleanupPlan& b)
{
    return a.id == b.id && a.targets == b.targets && a.stagingInventory == b.stagingInventory
        && RecordEquality::same(a.root, b.root) && a.generation == b.generation && a.exportCutoff == b.exportCutoff;
}

namespace {

std::int64_t countOf(const QList<CleanupTarget>& targets, CleanupTarget::Kind kind)
{
    return std::count_if(targets.begin(), targets.end(), [kind](const CleanupTarget& t) { return t.kind == kind; });
}

} // namespace

std::int64_t StorageCleanupPlan::byteCount() const
{
    std::int64_t total = 0;
    for (const CleanupTarget& target : targets)
        total += target.byteCount;
    return total;
}

std::int64_t StorageCleanupPlan::materialCount() const { return countOf(targets, CleanupTarget::Kind::material); }
std::int64_t StorageCleanupPlan::exportCount() const { return countOf(targets, CleanupTarget::Kind::temporaryExport); }
std::int64_t StorageCleanupPlan::completedEditCount() const { return countOf(targets, CleanupTarget::Kind::completedEdit); }
std::int64_t StorageCleanupPlan::stagingCount() const { return countOf(targets, CleanupTarget::Kind::unownedStaging); }

StorageCleanupPlan StorageCleanupPlan::selecting(const QSet<QString>& paths) const
{
    StorageCleanupPlan narrowed = *this;
    narrowed.targets.clear();
    for (const CleanupTarget& target : targets) {
        if (paths.contains(target.relativePath))
            narrowed.targets.append(target);
    }
    return narrowed;
}

} // namespace tolvex
