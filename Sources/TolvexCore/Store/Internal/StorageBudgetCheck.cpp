#include "TolvexCore/Store/Internal/StorageBudgetCheck.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/GuardedPathCache.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <limits>

namespace tolvex {

namespace {

constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();

} // namespace

std::int64_t StorageBudgetCheck::retainedBytes(const QString& relativePath) const
{
    GuardedPathCache guard(context_.paths);
    return retainedBytes(relativePath, guard);
}

// Every path is guarded; one walk shares the resolution of its folders.
std::int64_t StorageBudgetCheck::retainedBytes(const QString& relativePath, GuardedPathCache& guard) const
{
    std::int64_t total = 0;
    for (const QUrl& entry : context_.list(guard.url(relativePath))) {
        const QString child = relativePath + u'/' + entry.fileName();
        const FileInfo info = context_.files->inspect(guard.url(child));
        if (info.isSymbolicLink)
            throw StoreError::invalidPath();
        const std::int64_t contribution = info.isRegularFile ? info.byteCount : retainedBytes(child, guard);
        if (contribution < 0 || total > largest - contribution)
            throw StoreError::budgetExceeded();
        total += contribution;
    }
    return total;
}

void StorageBudgetCheck::checkBudget(std::int64_t bytes, Count) const
{
    const StorageBudget& budget = context_.budget;
    if (bytes < 0 || bytes > budget.maxFileBytes || bytes > budget.maxMaterialBytes || budget.minimumFreeBytes < 0)
        throw StoreError::budgetExceeded();

    const std::int64_t used = usedByFullWalk();
    if (used > budget.maxMaterialBytes - bytes)
        throw StoreError::budgetExceeded();
    if (bytes > largest - budget.minimumFreeBytes)
        throw StoreError::budgetExceeded();
    const std::int64_t available = context_.files->availableBytes(context_.paths.root());
    if (available < bytes + budget.minimumFreeBytes)
        throw StoreError::budgetExceeded();
}

std::int64_t StorageBudgetCheck::usedByFullWalk() const
{
    GuardedPathCache guard(context_.paths);
    std::int64_t used = 0;
    for (const QString& folder : {DataRoot::materialsFolder(), DataRoot::draftsFolder(), DataRoot::exportsFolder()}) {
        const std::int64_t held = retainedBytes(folder, guard);
        if (used > largest - held)
            throw StoreError::budgetExceeded();
        used += held;
    }

    for (const QUrl& entry : context_.list(guard.url(DataRoot::transactionsFolder()))) {
        const QString name = entry.fileName();
        if (!DataRoot::isStagingName(name))
            continue;
        const FileInfo info = context_.files->inspect(guard.url(DataRoot::entry(DataRoot::transactionsFolder(), name)));
        if (!info.isRegularFile || info.isSymbolicLink)
            throw StoreError::invalidPath();
        if (info.byteCount < 0 || used > largest - info.byteCount)
            throw StoreError::invalidPath();
        used += info.byteCount;
    }
    return used;
}

} // namespace tolvex
