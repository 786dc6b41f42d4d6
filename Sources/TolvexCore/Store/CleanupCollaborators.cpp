#include "TolvexCore/Store/CleanupCollaborators.h"

#include "TolvexCore/Content/OwnedPaths.h"
#include "TolvexCore/Store/NoteDraftStore.h"
#include "TolvexCore/Store/StoreContext.h"
#include "TolvexCore/Store/StoreError.h"

namespace tolvex {

namespace {

std::pair<EditSession, EditSessionDisposition> editSessionDispositionUnwired(
    StoreContext&, const QUuid&, const WorkspaceSnapshot&)
{
    throw StoreError::recoveryRequired();
}

bool isAtOrBelow(const QString& path, const QString& folder)
{
    return !folder.isEmpty() && (path == folder || path.startsWith(folder + u'/'));
}

// A destination is judged by the place it names on disk, not by its text:
// the data root reached through a link above it (its anchor) is still the
// data root, so both the root's path and its anchor's path are refused.
void destinationOutsideDataRoot(StoreContext& context, const QUrl& destination)
{
    if (!destination.isLocalFile())
        throw StoreError::invalidPath();
    const QString path = OwnedPaths::standardized(destination.toLocalFile());
    if (!path.startsWith(u'/'))
        throw StoreError::invalidPath();
    const QString rootPath = OwnedPaths::standardized(context.paths.root().toLocalFile());
    const QString anchorPath = OwnedPaths::standardized(context.paths.anchor().toLocalFile());
    if (isAtOrBelow(path, rootPath) || isAtOrBelow(path, anchorPath))
        throw StoreError::invalidPath();

    const qsizetype slash = path.lastIndexOf(u'/');
    const QString parent = slash == 0 ? QStringLiteral("/") : path.left(slash);
    if (OwnedPaths::resolvingSymbolicLinks(parent) != parent)
        throw StoreError::invalidPath();
    if (context.files->inspect(QUrl::fromLocalFile(parent)).isSymbolicLink)
        throw StoreError::invalidPath();
    if (OwnedPaths::resolvingSymbolicLinks(path) != path)
        throw StoreError::invalidPath();
}

} // namespace

CleanupCollaborators CleanupCollaborators::standard()
{
    return CleanupCollaborators{[](StoreContext& context) { return NoteDraftStore(context).noteDrafts(); },
        editSessionDispositionUnwired, destinationOutsideDataRoot};
}

} // namespace tolvex
