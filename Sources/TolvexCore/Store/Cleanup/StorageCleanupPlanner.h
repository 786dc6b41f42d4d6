#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/Cleanup/CleanupCollaborators.h"
#include "TolvexCore/Model/CleanupFingerprint.h"
#include "TolvexCore/Model/CleanupTarget.h"
#include "TolvexCore/Store/StorageCleanupPlan.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

namespace tolvex {

class StoreContext;

// Works out what a storage cleanup would move to the Trash, and fingerprints
// every file of it so that the confirmation can prove nothing changed in
// between. Five kinds are proposed: the folders of taken-down and trashed
// materials, the folders of edit sessions whose result is committed, exports
// older than a day, staging files no pending work owns, and the folders of
// pending edit sessions and note drafts that no open window holds (work a
// crash or a failed editor left behind).
// Materials that unfinished work may still need (a pending note draft or
// edit session that a window holds, a note being written in this run, a
// journalled commit the snapshot does not fully hold) are never proposed, and
// anything in the data root the store does not understand stops the plan
// rather than shrinking it.
//
// Building a plan writes nothing and changes nothing in the workspace.
class StorageCleanupPlanner {
public:
    explicit StorageCleanupPlanner(StoreContext& context,
        CleanupCollaborators collaborators = CleanupCollaborators::standard());

    // Exports modified a day or more before `now` count as old; `heldDrafts`
    // are the folder ids of the drafts and sessions open windows hold. The
    // caller has tested `busy`; the preview does not take it.
    StorageCleanupPlan previewStorageCleanup(const Date& now, const QSet<QUuid>& heldDrafts = {});
    // The plan for this export cutoff and held set; also the re-plan of a confirmation.
    StorageCleanupPlan buildCleanupPlan(const Date& exportCutoff, const QSet<QUuid>& heldDrafts = {});

    // One target: the item at `relativePath`, fingerprinted whole.
    CleanupTarget cleanupTarget(const QString& relativePath, CleanupTarget::Kind kind, const MaterialRecord* record);
    // The item itself (empty path) then, for a folder, everything below it,
    // depth first, each folder's entries in name order. invalidPath for a link
    // anywhere, budgetExceeded for a file beyond the per-file budget,
    // sourceChanged for an item that changed while it was read.
    QList<CleanupFingerprint> cleanupFingerprints(const QUrl& url) const;

    static constexpr double exportAgeSeconds = 86400;

private:
    void visit(const QUrl& url, const QString& relative, QList<CleanupFingerprint>& fingerprints) const;
    // Completed edit sessions become targets; pending ones protect their
    // material while a window holds them, and are targets of their own
    // (`abandoned`) when none does.
    QList<CleanupTarget> scanDrafts(const WorkspaceSnapshot& snapshot, const QSet<QUuid>& heldDrafts,
        QSet<QUuid>& protectedIDs, QList<CleanupTarget>& abandoned);
    // A journalled commit the snapshot does not fully hold protects its material.
    void protectJournalledMaterials(const WorkspaceSnapshot& snapshot, QSet<QUuid>& protectedIDs);
    QList<CleanupTarget> materialTargets(const WorkspaceSnapshot& snapshot, const QSet<QUuid>& protectedIDs);
    QList<CleanupTarget> exportTargets(const Date& exportCutoff);

    StoreContext& context_;
    CleanupCollaborators collaborators_;
};

} // namespace tolvex
