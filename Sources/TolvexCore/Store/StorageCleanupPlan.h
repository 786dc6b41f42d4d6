#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/CleanupTarget.h"
#include "TolvexCore/Store/StagingRecoveryItem.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <cstdint>

namespace tolvex {

// What a storage-cleanup preview found; confirmed (possibly narrowed) by the user.
struct StorageCleanupPlan {
    QUuid id;
    QList<CleanupTarget> targets;
    QList<StagingRecoveryItem> stagingInventory;
    QUrl root;
    std::uint64_t generation = 0;
    Date exportCutoff;
    // The drafts and edit sessions (by folder id) that open windows held when
    // the plan was made: they were left out, and a confirmation re-plans with
    // the same set.
    QSet<QUuid> heldDrafts;

    std::int64_t byteCount() const;
    std::int64_t materialCount() const;
    std::int64_t exportCount() const;
    std::int64_t completedEditCount() const;
    std::int64_t stagingCount() const;
    std::int64_t pendingDraftCount() const;

    // The materials whose targets wait for an unfinished draft of theirs
    // (a pendingDraft target with the same material) whose relative path is
    // not in `paths`. A draft that stays still needs its material, so such a
    // material target is carried out only together with all its drafts.
    QSet<QUuid> materialsWaitingForDrafts(const QSet<QString>& paths) const;

    // The same plan keeping only the targets whose relative path is in
    // `paths`, in order, less the material targets still waiting for drafts.
    StorageCleanupPlan selecting(const QSet<QString>& paths) const;

    friend bool operator==(const StorageCleanupPlan& a, const StorageCleanupPlan& b);
};

} // namespace tolvex
