#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/Cleanup/CleanupCollaborators.h"
#include "TolvexCore/Model/CleanupTarget.h"
#include "TolvexCore/Store/StagingRecoveryItem.h"
#include "TolvexCore/Store/StorageCleanupPlan.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

namespace tolvex {

class StoreContext;
struct MaterialVersion;

// What lies in "Transactions" besides the journals, and whether each staging
// file's bytes are still wanted:
// - referenced: a version of the live snapshot, of "state.json" or of
//   "state.previous.json" whose payload is not intact has the same content,
//   or a pending note draft's text, or a pending edit session's working file;
// - unowned: a valid staging file nobody wants; a cleanup target;
// - needsInspection: anything else that is not a journal, nor hidden (a
//   name beginning with a dot, which file managers and sync tools leave).
// Contents are compared by their content key, "<sha256>:<byte count>".
//
// A journal never makes a staging file referenced. A commit that stopped
// before its payload reached "Materials" leaves a journal naming that content
// and the staging file; the load skips such a journal and no later commit
// picks the file up, so the journal's claim could never be honoured, while
// the file would count against the storage budget for good. Whatever such a
// commit still needs (a pending draft's text, a pending session's working
// file) claims the content itself.
//
// Nothing here changes a file, a journal, a draft or a store field.
class StagingInventory {
public:
    struct Result {
        // Every entry of "Transactions" but the journals and hidden files, in name order.
        QList<StagingRecoveryItem> items;
        // An unownedStaging target for each unowned item, in the same order.
        QList<CleanupTarget> targets;
    };

    explicit StagingInventory(StoreContext& context,
        CleanupCollaborators collaborators = CleanupCollaborators::standard());

    // The items for the loaded workspace; invalidSource while it is hidden.
    // The caller has tested `busy`.
    QList<StagingRecoveryItem> stagingRecoveryInventory();
    // The items and targets for a snapshot the caller has loaded.
    Result stagingRecoveryInventory(const WorkspaceSnapshot& snapshot);

    // Copies an unowned staging file of a confirmed plan to a place outside
    // the data root, verifies the copy and returns the standardized
    // destination. The staging file itself is never moved or changed. The
    // caller holds `busy`.
    QUrl exportStagingCopy(const CleanupTarget& target, const StorageCleanupPlan& plan, const QUrl& destination);

    static QString contentKey(const QString& sha256, std::int64_t byteCount);

private:
    void collectStateVersions(const QString& name, QList<MaterialVersion>& versions);
    void checkJournals(const QList<QUrl>& sortedEntries);
    bool payloadIsIntact(const MaterialVersion& version) const;
    void addPendingSessionContent(const WorkspaceSnapshot& snapshot, QSet<QString>& wanted);

    StoreContext& context_;
    CleanupCollaborators collaborators_;
};

} // namespace tolvex
