#include "TolvexCore/Store/StorageCleanupPlan.h"

#include "TolvexCore/Model/RecordEquality.h"
#include "TolvexCore/Store/StagingRecoveryItem.h"

#include <algorithm>
#include <limits>

namespace tolvex {

bool operator==(const StagingRecoveryItem& a, const StagingRecoveryItem& b)
{
    return RecordEquality::same(a.relativePath, b.relativePath) && a.byteCount == b.byteCount
        && a.disposition == b.disposition;
}

bool operator==(const StorageCleanupPlan& a, const StorageCleanupPlan& b)
{
    return a.id == b.id && a.targets == b.targets && a.stagingInventory == b.stagingInventory
        && RecordEquality::same(a.root, b.root) && a.generation == b.generation && a.exportCutoff == b.exportCutoff
        && a.heldDrafts == b.heldDrafts;
}

namespace {

std::int64_t countOf(const QList<CleanupTarget>& targets, CleanupTarget::Kind kind)
{
    return std::count_if(targets.begin(), targets.end(), [kind](const CleanupTarget& t) { return t.kind == kind; });
}

} // namespace

std::int64_t StorageCleanupPlan::byteCount() const
{
    // The store never hands out a plan whose sum overflows; one put together
    // elsewhere reads as the largest count rather than wrapping around.
    std::int64_t total = 0;
    for (const CleanupTarget& target : targets) {
        if (__builtin_add_overflow(total, target.byteCount, &total))
            return std::numeric_limits<std::int64_t>::max();
    }
    return total;
}

std::int64_t StorageCleanupPlan::materialCount() const { return countOf(targets, CleanupTarget::Kind::material); }
std::int64_t StorageCleanupPlan::exportCount() const { return countOf(targets, CleanupTarget::Kind::temporaryExport); }
std::int64_t StorageCleanupPlan::completedEditCount() const { return countOf(targets, CleanupTarget::Kind::completedEdit); }
std::int64_t StorageCleanupPlan::stagingCount() const { return countOf(targets, CleanupTarget::Kind::unownedStaging); }
std::int64_t StorageCleanupPlan::pendingDraftCount() const { return countOf(targets, CleanupTarget::Kind::pendingDraft); }

StorageCleanupPlan StorageCleanupPlan::selecting(const QSet<QString>& paths) const
{
    // Paths compare as texts do in the records: canonically equivalent
    // spellings of one name select the same target.
    QSet<QString> wanted;
    wanted.reserve(paths.size());
    for (const QString& path : paths)
        wanted.insert(path.normalized(QString::NormalizationForm_D));
    StorageCleanupPlan narrowed = *this;
    narrowed.targets.clear();
    for (const CleanupTarget& target : targets) {
        if (wanted.contains(target.relativePath.normalized(QString::NormalizationForm_D)))
            narrowed.targets.append(target);
    }
    return narrowed;
}

} // namespace tolvex
