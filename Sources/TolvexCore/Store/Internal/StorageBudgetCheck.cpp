#include "TolvexCore/Store/Internal/StorageBudgetCheck.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/GuardedPathCache.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <exception>
#include <limits>
#include <vector>

namespace tolvex {

namespace {

constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();

// How much older than the clock a folder's times must be for its listing to
// be kept: the coarsest stamps of a local file system (FAT's two seconds)
// and the lag of the kernel's coarse clock behind the one read here.
constexpr std::int64_t settlingNanoseconds = 3'000'000'000;

bool addWithin(std::int64_t& total, std::int64_t amount)
{
    if (amount < 0 || total > largest - amount)
        return false;
    total += amount;
    return true;
}

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

void StorageBudgetCheck::checkBudget(std::int64_t bytes, Count count) const
{
    const StorageBudget& budget = context_.budget;
    if (bytes < 0 || bytes > budget.maxFileBytes || bytes > budget.maxMaterialBytes || budget.minimumFreeBytes < 0)
        throw StoreError::budgetExceeded();

    const std::int64_t used = usedBytes(count);
    if (used > budget.maxMaterialBytes - bytes)
        throw StoreError::budgetExceeded();
    if (bytes > largest - budget.minimumFreeBytes)
        throw StoreError::budgetExceeded();
    const std::int64_t available = context_.files->availableBytes(context_.paths.root());
    if (available < bytes + budget.minimumFreeBytes)
        throw StoreError::budgetExceeded();
}

std::int64_t StorageBudgetCheck::usedBytes(Count count) const
{
    if (count == Count::remembered) {
        std::optional<std::int64_t> used;
        try {
            used = usedByRememberedFolders();
        } catch (const std::exception&) {
            // The full walk meets the same trouble and reports it as it should.
        }
        if (used)
            return *used;
        context_.budgetFolders.folders.clear();
    }
    return usedByFullWalk();
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

// Why a kept listing still holds. A folder's entries change only by a change
// of the folder itself (an entry created, removed, renamed in or out), and
// each such change sets the folder's change and modification times to the
// kernel's clock at that moment; nothing can set the change time back. The
// check reads the clock (`now`) before it looks at anything, looks at each
// folder (device, inode, kind, both times), and only then lists it. A
// listing is kept for the next check when both times were settled at that
// look (older than `now` by more than the file system's stamp granularity
// and the clock's lag): whatever changes the folder after the look stamps it
// with a time after `now` less that margin, so not with the times that were
// kept. At the next check the same device, inode and times mean that the
// names are still the listed ones; a folder replaced, even by one that got
// the same inode number, or mounted over, shows other times or another
// identity and is listed again. Folders changed within the margin are listed
// again every time until they settle ("Materials" and "Transactions" while
// imports follow each other).
//
// Nothing else is kept: a file's size can change without any change of its
// folder (a write, a truncation, even with the modification time put back),
// and an entry's kind is what the guard judges, so every entry of every
// folder is looked at again (one fstatat each, without following a link).
// Only a file layer that vouches for the identities of what it looks at (a
// volume whose times the kernel keeps, not a network or FUSE one) takes this
// way; every other, and every look that is not a plain folder or file, goes
// to the full walk.
//
// What makes the totals equal: the guard's look at the four top folders is
// the walk's own; below them the walk's guard accepts exactly the entries
// that are not links, whose folders are not links either, and a look
// without following links sees the same. The walk adds non-negative sizes
// and fails once a sum leaves the 64-bit range, so it fails exactly when the
// whole sum does; here an overflow goes to the walk for its error.
std::optional<std::int64_t> StorageBudgetCheck::usedByRememberedFolders() const
{
    BudgetFolderCache& cache = context_.budgetFolders;
    const std::int64_t now = cache.clock();
    const QString transactions = DataRoot::transactionsFolder();
    // "Transactions" first, so that its staging entries come first among the entries looked at.
    QStringList paths = {transactions, DataRoot::materialsFolder(), DataRoot::draftsFolder(), DataRoot::exportsFolder()};
    GuardedPathCache guard(context_.paths);
    for (const QString& path : paths)
        guard.url(path);

    const QUrl root = context_.paths.root();
    const QString rootPath = root.toLocalFile();
    // Looks at every path of one level in one call; absent unless each
    // answered without an error and without a link.
    const auto lookAt = [&](const QStringList& paths) -> std::optional<std::vector<FileOperations::ItemLook>> {
        std::optional<std::vector<FileOperations::ItemLook>> looks = context_.files->inspectBelow(root, paths);
        if (!looks || looks->size() != static_cast<std::size_t>(paths.size()))
            return std::nullopt;
        for (const FileOperations::ItemLook& look : *looks) {
            if (look.error != 0 || look.info.isSymbolicLink)
                return std::nullopt;
        }
        return looks;
    };
    const auto isFolder = [](const FileOperations::ItemLook& look) {
        return !look.info.isRegularFile && look.identity && look.identity->isDirectory;
    };

    struct Folder {
        QString path;
        FileIdentity identity;
    };
    std::vector<Folder> folders;
    std::optional<std::vector<FileOperations::ItemLook>> looks = lookAt(paths);
    if (!looks)
        return std::nullopt;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const FileOperations::ItemLook& look = (*looks)[static_cast<std::size_t>(i)];
        if (!isFolder(look))
            return std::nullopt;
        folders.push_back({paths[i], *look.identity});
    }

    QHash<QString, BudgetFolderCache::Folder> kept;
    kept.reserve(cache.folders.size() + 1);
    std::int64_t used = 0;
    // Level by level: the entries of every folder of one level are looked at together.
    while (!folders.empty()) {
        paths.clear();
        // The staging entries, which must be files.
        qsizetype stagingEntries = 0;
        for (const Folder& folder : folders) {
            const bool stagingFolder = folder.path == transactions;
            const auto known = cache.folders.constFind(folder.path);
            QStringList names;
            if (known != cache.folders.cend() && known->settled && known->identity == folder.identity) {
                names = known->names;
                kept.insert(folder.path, *known);
            } else {
                names = context_.listNames(QUrl::fromLocalFile(rootPath + u'/' + folder.path));
                if (stagingFolder)
                    names.removeIf([](const QString& name) { return !DataRoot::isStagingName(name); });
                const bool settled = folder.identity.changeTime < now - settlingNanoseconds
                    && folder.identity.modificationTime < now - settlingNanoseconds;
                kept.insert(folder.path, {folder.identity, settled, names});
            }
            if (stagingFolder)
                stagingEntries = names.size();
            for (const QString& name : names)
                paths.append(folder.path + u'/' + name);
        }
        folders.clear();
        if (paths.isEmpty())
            break;
        looks = lookAt(paths);
        if (!looks)
            return std::nullopt;
        for (qsizetype i = 0; i < paths.size(); ++i) {
            const FileOperations::ItemLook& look = (*looks)[static_cast<std::size_t>(i)];
            if (look.info.isRegularFile) {
                if (!addWithin(used, look.info.byteCount))
                    return std::nullopt;
            } else if (i < stagingEntries || !isFolder(look)) {
                return std::nullopt;
            } else {
                folders.push_back({paths[i], *look.identity});
            }
        }
    }
    cache.folders = std::move(kept);
    return used;
}

} // namespace tolvex
