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
// between. Four kinds of old copies are proposed: the folders of taken-down
// and trashed materials, the folders of edit sessions whose result is
// committed, exports older than a day, and staging files no pending work owns.
// Materials that unfinished work may still need (a pending note draft, a note
// being written in this run, a pending edit session, a journalled commit the
// snapshot does not fully hold) are never proposed, and anything in the data
// root the store does not understand stops the plan rather than shrinking it.
//
// Building a plan writes nothing and changes nothing in the workspace.
class StorageCleanupPlanner {
public:
    explicit StorageCleanupPlanner(StoreContext& context,
        CleanupCollaborators collaborators = CleanupCollaborators::standard());

    // Exports modified a day or more before `now` count as old. The caller
    // has tested `busy`; the preview does not take it.
    StorageCleanupPlan previewStorageCleanup(const Date& now);
    // The plan for this export cutoff; also the re-plan of a confirmation.
    StorageCleanupPlan buildCleanupPlan(const Date& exportCutoff);

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
    // Completed edit sessions become targets; pending ones protect their material.
    QList<CleanupTarget> scanDrafts(const WorkspaceSnapshot& snapshot, QSet<QUuid>& protectedIDs);
    // A journalled commit the snapshot does not fully hold protects its material.
    void protectJournalledMaterials(const WorkspaceSnapshot& snapshot, QSet<QUuid>& protectedIDs);
    QList<CleanupTarget> materialTargets(const WorkspaceSnapshot& snapshot, const QSet<QUuid>& protectedIDs);
    QList<CleanupTarget> exportTargets(const Date& exportCutoff);

    StoreContext& context_;
    CleanupCollaborators collaborators_;
};

} // namespace tolvex
