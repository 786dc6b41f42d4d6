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

// Paths compare as texts do in the records: canonically equivalent
// spellings of one name select the same target.
QString canonical(const QString& path)
{
    return path.normalized(QString::NormalizationForm_D);
}

QSet<QString> canonical(const QSet<QString>& paths)
{
    QSet<QString> result;
    result.reserve(paths.size());
    for (const QString& path : paths)
        result.insert(canonical(path));
    return result;
}

QSet<QUuid> waitingAmong(const QList<CleanupTarget>& targets, const QSet<QString>& canonicalPaths)
{
    QSet<QUuid> waiting;
    for (const CleanupTarget& target : targets) {
        if (target.kind == CleanupTarget::Kind::pendingDraft && target.materialID
            && !canonicalPaths.contains(canonical(target.relativePath)))
            waiting.insert(*target.materialID);
    }
    return waiting;
}

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

QSet<QUuid> StorageCleanupPlan::materialsWaitingForDrafts(const QSet<QString>& paths) const
{
    return waitingAmong(targets, canonical(paths));
}

StorageCleanupPlan StorageCleanupPlan::selecting(const QSet<QString>& paths) const
{
    const QSet<QString> wanted = canonical(paths);
    const QSet<QUuid> waiting = waitingAmong(targets, wanted);
    StorageCleanupPlan narrowed = *this;
    narrowed.targets.clear();
    for (const CleanupTarget& target : targets) {
        if (!wanted.contains(canonical(target.relativePath)))
            continue;
        if (target.kind == CleanupTarget::Kind::material && target.materialID && waiting.contains(*target.materialID))
            continue;
        narrowed.targets.append(target);
    }
    return narrowed;
}

} // namespace tolvex
