#pragma once

#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/Internal/EditSessionDisposition.h"

#include <QList>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <utility>


namespace tolvex {

class StoreContext;

// What the storage cleanup and the staging inventory ask of the store's other
// parts: the note drafts, the state of the edit sessions, and the rule that
// keeps exported copies out of the data root. Held as functions so that a
// test can stand in for one part without building all of its files.
struct CleanupCollaborators {
    using DraftListing = std::function<QList<NoteDraft>(StoreContext&)>;
    using SessionDisposition = std::function<std::pair<EditSession, EditSessionDisposition>(
        StoreContext&, const QUuid& sessionID, const WorkspaceSnapshot& snapshot)>;
    using DestinationCheck = std::function<void(StoreContext&, const QUrl& standardizedDestination)>;

    // Every draft in "Drafts", newest first.
    DraftListing noteDrafts;
    // The stored session of that id and whether it is pending or completed.
    SessionDisposition editSessionDisposition;
    // invalidPath unless a copy may be written at the destination: outside
    // the data root however it is spelled, and reached through no symbolic link.
    DestinationCheck checkDestinationOutsideDataRoot;

    // The store's own parts.
    static CleanupCollaborators standard();
};

} // namespace tolvex
