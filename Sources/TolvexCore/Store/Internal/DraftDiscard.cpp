#include "TolvexCore/Store/Internal/DraftDiscard.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/NoteDrafts.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <system_error>

namespace tolvex {

void DraftDiscard::discardEditSession(const QUuid& sessionID)
{
    discard(sessionID, DataRoot::editSessionPath(sessionID));
}

void DraftDiscard::discardNoteDraft(const QUuid& draftID)
{
    discard(draftID, DataRoot::noteDraftPath(draftID));
    NoteDrafts(context_).forgetMaterialsWithoutDrafts();
}

void DraftDiscard::discard(const QUuid& id, const QString& record)
{
    context_.ensureLoaded();
    // The guard refuses a folder or record that is a link.
    const QUrl folder = context_.url(DataRoot::draftFolder(id));
    const QUrl recordURL = context_.url(record);
    if (!context_.exists(recordURL))
        throw StoreError::notFound();
    const FileInfo info = context_.files->inspect(recordURL);
    if (!info.isRegularFile || info.isSymbolicLink)
        throw StoreError::notFound();

    // One rename into the Trash: the folder leaves whole or stays whole.
    context_.files->trash(folder);
    if (context_.exists(folder))
        throw StoreError::recoveryRequired();
}

} // namespace tolvex
