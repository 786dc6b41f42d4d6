#include "TolvexCore/Store/Cleanup/CleanupCollaborators.h"

#include "TolvexCore/Store/Internal/DestinationGuard.h"
#include "TolvexCore/Store/Internal/EditSessions.h"
#include "TolvexCore/Store/Internal/NoteDrafts.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Model/StoreError.h"

namespace tolvex {

namespace {

void destinationOutsideDataRoot(StoreContext& context, const QUrl& destination)
{
    // Inside the data root, spelled through its path or its anchor, or
    // reached through a link anywhere: refused.
    const DestinationPlacement placement = DestinationGuard::place(context.paths, destination);
    if (placement.isInsideRoot())
        throw StoreError::invalidPath();
    // The folder that receives the copy, as the file layer sees it.
    const qsizetype slash = placement.path.lastIndexOf(u'/');
    const QString parent = slash == 0 ? QStringLiteral("/") : placement.path.left(slash);
    if (context.files->inspect(QUrl::fromLocalFile(parent)).isSymbolicLink)
        throw StoreError::invalidPath();
}

} // namespace

CleanupCollaborators CleanupCollaborators::standard()
{
    return CleanupCollaborators{[](StoreContext& context) { return NoteDrafts(context).noteDrafts(); },
        [](StoreContext& context, const QUuid& sessionID, const WorkspaceSnapshot& snapshot) {
            return EditSessions(context).editSessionDisposition(sessionID, snapshot);
        },
        destinationOutsideDataRoot};
}

} // namespace tolvex
