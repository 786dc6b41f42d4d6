#include "TolvexCore/Store/StorageBudgetCheck.h"

#include "TolvexCore/Store/PathNames.h"
#include "TolvexCore/Store/StoreContext.h"
#include "TolvexCore/Store/StoreError.h"

#include <limits>

namespace tolvex {

namespace {

constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();

} // namespace

std::int64_t StorageBudgetCheck::retainedBytes(const QString& relativePath) const
{
    std::int64_t total = 0;
    for (const QUrl& entry : context_.files->list(context_.url(relativePath))) {
        const QString child = relativePath + u'/' + entry.fileName();
        const FileInfo info = context_.files->inspect(context_.url(child));
        if (info.isSymbolicLink)
            throw StoreError::invalidPath();
        const std::int64_t contribution = info.isRegularFile ? info.byteCount : retainedBytes(child);
        if (contribution < 0 || total > largest - contribution)
            throw StoreError::budgetExceeded();
        total += contribution;
    }
    return total;
}

void StorageBudgetCheck::checkBudget(std::int64_t bytes) const
{
    const StorageBudget& budget = context_.budget;
    if (bytes < 0 || bytes > budget.maxFileBytes || bytes > budget.maxMaterialBytes || budget.minimumFreeBytes < 0)
        throw StoreError::budgetExceeded();

    std::int64_t used = 0;
    for (const char* folder : {"Materials", "Drafts", "Exports"}) {
        const std::int64_t held = retainedBytes(QString::fromLatin1(folder));
        if (used > largest - held)
            throw StoreError::budgetExceeded();
        used += held;
    }

    for (const QUrl& entry : context_.files->list(context_.url(QStringLiteral("Transactions")))) {
        const QString name = entry.fileName();
        if (pathExtension(name) != u"stage")
            continue;
        const FileInfo info = context_.files->inspect(context_.url(QStringLiteral("Transactions/") + name));
        if (!info.isRegularFile || info.isSymbolicLink)
            throw StoreError::invalidPath();
        if (info.byteCount < 0 || used > largest - info.byteCount)
            throw StoreError::invalidPath();
        used += info.byteCount;
    }

    if (used > budget.maxMaterialBytes - bytes)
        throw StoreError::budgetExceeded();
    if (bytes > largest - budget.minimumFreeBytes)
        throw StoreError::budgetExceeded();
    const std::int64_t available = context_.files->availableBytes(context_.paths.root());
    if (available < bytes + budget.minimumFreeBytes)
        throw StoreError::budgetExceeded();
}

} // namespace tolvex
