#include "TolvexCore/Store/Internal/ExportCopies.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/DestinationGuard.h"
#include "TolvexCore/Store/Internal/GuardedCopy.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <cerrno>
#include <system_error>

namespace tolvex {

namespace {


using DataRoot::lastPathComponent;

} // namespace

QUrl ExportCopies::exportCopy(const QUuid& materialID, const std::optional<QUuid>& versionID, const QUrl& destination,
    const CancellationToken& cancellation)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    const QUrl source = context_.payloadURL(materialID, versionID);

    context_.url(DataRoot::exportsFolder());
    const DestinationPlacement placement = DestinationGuard::place(context_.paths, destination);
    // Inside the data root only "Exports" takes copies (not the folder itself).
    if (placement.isInsideRoot() && !placement.relativePath->startsWith(DataRoot::exportsFolder() + u'/'))
        throw StoreError::invalidPath();
    refuseSourceFiles(snapshot, placement.path);

    const QUrl target = placement.isInsideRoot() ? context_.url(*placement.relativePath) : placement.url();
    if (context_.exists(target))
        throw std::system_error(EEXIST, std::generic_category(), placement.path.toStdString());

    const std::int64_t byteCount = context_.files->inspect(source).byteCount;
    if (placement.isInsideRoot()) {
        // Guarded only: the copy makes the missing folders itself, each
        // beneath one it opened without following a link.
        const QString& relative = *placement.relativePath;
        context_.url(relative.left(relative.lastIndexOf(u'/')));
    }
    // Copies outside the data root count against the budget as well.
    context_.checkBudget(byteCount);
    cancellation.check();

    // The file layer's copy refuses an existing destination itself (EEXIST),
    // so a file that appeared since the test above is never replaced.
    copyToCheckedDestination(context_, source, placement);
    // (A file's name alone makes it hidden here: there is no flag to clear.)

    const FileInfo copied = context_.files->inspect(target);
    if (!copied.isRegularFile || copied.isSymbolicLink || copied.byteCount != byteCount)
        throw StoreError::sourceChanged();
    if (ContentStore::digest(context_.files->read(target)) != ContentStore::digest(context_.files->read(source)))
        throw StoreError::sourceChanged();
    return placement.url();
}

void ExportCopies::refuseSourceFiles(const WorkspaceSnapshot& snapshot, const QString& destinationPath)
{
    const QString name = lastPathComponent(destinationPath);
    std::optional<std::optional<QString>> resolvedDestination;
    for (const MaterialRecord& material : snapshot.materials) {
        if (!material.source.filePath)
            continue;
        const QString& sourcePath = *material.source.filePath;
        // Only a source of the same name can be the same file; only those are
        // resolved, so that a source recorded through a linked folder is
        // recognised too.
        if (lastPathComponent(OwnedPaths::standardized(sourcePath)) != name)
            continue;
        if (OwnedPaths::standardized(sourcePath) == destinationPath)
            throw StoreError::invalidPath();
        const std::optional<QString> resolvedSource = OwnedPaths::resolvingSymbolicLinks(sourcePath);
        if (!resolvedDestination)
            resolvedDestination = OwnedPaths::resolvingSymbolicLinks(destinationPath);
        if (resolvedSource && *resolvedDestination && *resolvedSource == **resolvedDestination)
            throw StoreError::invalidPath();
    }
}

} // namespace tolvex
