#pragma once

#include "TolvexCore/Files/DataRootLock.h"
#include "TolvexCore/Files/FileOperations.h"
#include "TolvexCore/Intake/ClipboardFileFingerprint.h"
#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/DuplicateImportPolicy.h"
#include "TolvexCore/Model/EditResult.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/ImportRequest.h"
#include "TolvexCore/Model/ImportResult.h"
#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/StorageBudget.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/CancellationError.h"
#include "TolvexCore/Model/CleanupTarget.h"
#include "TolvexCore/Store/EditSessionReview.h"
#include "TolvexCore/Store/PresentationPayloads.h"
#include "TolvexCore/Store/StagingRecoveryItem.h"
#include "TolvexCore/Store/StorageCleanupPlan.h"
#include "TolvexCore/Store/StorageCleanupResult.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QSet>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <memory>
#include <optional>

namespace tolvex {

class StoreContext;
class StoreExecutor;

// The one owner of the data root. An actor: every operation is queued on the
// store's own serial executor and answers through a QFuture; operations run
// one at a time, in the order they were called. Errors arrive as the
// future's exception: StoreError, CancellationError, or the file layer's
// std::system_error wrapped in QUnhandledException (FutureResult.h unwraps it).
//
// While an operation that holds the store runs (an import, a note
// publication, a restore...), every operation that tests the busy flag fails
// with operationInProgress; payload locations and the clipboard settings
// still answer.
class MaterialStore {
public:
    // Touches nothing on disk. The first operation takes the data root's
    // lock (DataRootLock) before it reads anything; when another store or
    // process holds it, that operation and every later one fail with the
    // lock's std::system_error (EWOULDBLOCK) and the root stays untouched.
    // Every operation then checks that the root's path still names the
    // locked folder; once it does not (the folder was moved or replaced
    // while the program ran), that operation and every later one fail with
    // StoreError::rootReplaced and write nothing, in either folder. An
    // operation already under way when the folder goes writes on into the
    // locked folder, wherever it now lies, or fails with rootReplaced at the
    // second half of a suspending one; none writes into the folder now at
    // the path.
    // The first operation that needs the workspace loads it.
    MaterialStore(const QUrl& root, FileOperationsRef files, StorageBudget budget);
    // Over a root whose lock the caller already took (at start-up, before
    // any window exists) with lockDataRoot().
    MaterialStore(const QUrl& root, FileOperationsRef files, StorageBudget budget, DataRootLock lock);
    // The lock a store takes on its data root, for a caller that takes it
    // before the store exists: StoreError::invalidPath, with nothing made or
    // locked, for a root the store would refuse (a link, or not at its
    // anchor); else DataRootLock::acquire of the root as the store names it.
    static DataRootLock lockDataRoot(const QUrl& root);
    // Waits for every operation still queued or suspended, then gives the
    // lock up.
    ~MaterialStore();

    MaterialStore(const MaterialStore&) = delete;
    MaterialStore& operator=(const MaterialStore&) = delete;

    // The loaded workspace; the first call reads, validates and repairs the data root.
    QFuture<WorkspaceSnapshot> load();
    // Whether an operation holds the store at this moment, so that an
    // operation testing the busy flag would now fail: answered at once, on
    // any thread, without queueing.
    bool isBusy() const;
    // The data root it owns, standardized; from any thread.
    const QUrl& root() const;
    // Puts "state.previous.json" back in place of a "state.json" that failed
    // to load. A restore whose load would fail (a journal that fails with
    // any snapshot) changes nothing and throws that load's error.
    QFuture<WorkspaceSnapshot> restorePreviousSnapshot();
    // Whether the restore would end with a loaded workspace; decided without
    // changing anything on disk. False while a workspace is loaded.
    QFuture<bool> canRestorePreviousSnapshot();

    // The verified file of a version (the active one when none is given).
    QFuture<QUrl> payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID = std::nullopt);
    // Each material's file or error; the call as a whole fails only when
    // the store does not own the data root.
    QFuture<PresentationPayloads> presentationPayloads(const QList<MaterialRecord>& records);

    QFuture<ClipboardPreference> clipboardPreferences();
    QFuture<void> setClipboardPreferences(const ClipboardPreference& preference);
    QFuture<bool> clipboardEnabled();
    QFuture<void> setClipboardEnabled(bool enabled);
    QFuture<ClipboardFileFingerprint> clipboardFileFingerprint(const QUrl& url);

    // Outside content becomes a material through a journalled commit: a new
    // hanging card, a duplicate (or a taken-down duplicate hung again), or a
    // full shelf. Every caller passes the largest integer as the capacity.
    QFuture<ImportResult> importMaterial(const ImportRequest& request, const QUuid& matterID,
        std::int64_t visibleCapacity, bool deduplicateClipboardContent,
        const std::optional<ClipboardFileFingerprint>& expectedClipboardFile, DuplicateImportPolicy duplicatePolicy,
        const CancellationToken& cancellation = {});

    // Carries out one user command and saves the workspace.
    QFuture<WorkspaceSnapshot> apply(const MaterialCommand& command, std::int64_t visibleCapacity);

    // Notes: a new draft (no material) or the continuation of a note material.
    QFuture<NoteDraft> createNoteDraft(const std::optional<QUuid>& materialID);
    QFuture<NoteDraft> updateNoteDraft(const QUuid& draftID, const QString& text);
    QFuture<QList<NoteDraft>> pendingNoteDrafts();
    // Hangs the note: a new text material or a new version of the one it continues.
    QFuture<WorkspaceSnapshot> publishNoteDraft(const QUuid& draftID, std::int64_t visibleCapacity,
        const CancellationToken& cancellation = {});

    // A new edit session on the material's active version (markup for an
    // image, textEdit for a text), with a working copy of its payload.
    QFuture<EditSession> createDerivedVersion(const QUuid& materialID, VersionKind kind);
    // Replaces the session's working file with the edited bytes.
    QFuture<void> writeEditingResult(const EditSession& session, const QByteArray& data);
    // Saves the working file as the material's new active version, or, for a
    // cancel, leaves the session open and returns the loaded workspace (a
    // discarding cancel first moves a session whose working file still holds
    // its base version to the Trash). Holds the store while the working file
    // is staged.
    QFuture<WorkspaceSnapshot> finishEditing(
        const EditSession& session, const EditResult& result, const CancellationToken& cancellation = {});
    // The session, moved onto the material's newer active version if there is one.
    QFuture<EditSession> resumeEditingSession(const EditSession& session);
    // Sessions that can still be resumed and saved, by ascending id.
    QFuture<QList<EditSession>> pendingEditSessions();
    // Those sessions and, beside them, the session folders that cannot be
    // read (for the recovery window, which offers to copy out or discard
    // them); a stray entry in a session folder still fails the call.
    QFuture<EditSessionReview> reviewEditSessions();
    // Which of these sessions' working files hold something else than their
    // base version: an editor wrote to them. One that cannot be read counts.
    QFuture<QSet<QUuid>> editSessionsWithChanges(const QList<EditSession>& sessions);

    // Give up a session or a note draft, whatever its state: its folder
    // "Drafts/<id>" goes to the system Trash whole, or stays whole. notFound
    // for an id that names no such session or draft. A discarded note draft
    // no longer protects its material from the storage cleanup.
    QFuture<void> discardEditSession(const QUuid& sessionID);
    QFuture<void> discardNoteDraft(const QUuid& draftID);

    // Copies a version's payload (the active one when none is given) to a new
    // file below "Exports" or outside the data root, verified; holds the store.
    QFuture<QUrl> exportCopy(const QUuid& materialID, const std::optional<QUuid>& versionID, const QUrl& destination,
        const CancellationToken& cancellation = {});

    // Storage cleanup. The preview changes nothing; exports modified a day or
    // more before `now` count as old. `heldDrafts` are the ids of the edit
    // sessions and note drafts that open windows hold: those protect their
    // material, while every other pending session or draft is proposed as
    // abandoned work (CleanupTarget::Kind::pendingDraft). The plan keeps the
    // set, and its confirmation re-plans with it. The cleanup takes a
    // previewed plan, possibly narrowed with StorageCleanupPlan::selecting,
    // and moves its targets to the system Trash after proving them unchanged
    // (sourceChanged otherwise). Both refuse with invalidSource while the
    // shelf is hidden.
    QFuture<StorageCleanupPlan> previewStorageCleanup(
        const Date& now = Date::now(), const QSet<QUuid>& heldDrafts = {});
    QFuture<StorageCleanupResult> cleanStorage(const StorageCleanupPlan& plan);

    // What lies in "Transactions" besides the journals (invalidSource while
    // the shelf is hidden), and a verified copy of one unowned staging file
    // of a plan, written outside the data root; returns the standardized
    // destination.
    QFuture<QList<StagingRecoveryItem>> stagingRecoveryInventory();
    QFuture<QUrl> exportStagingCopy(const CleanupTarget& target, const StorageCleanupPlan& plan,
        const QUrl& destination);

    // The actor, for the store's own parts and for tests.
    StoreExecutor& executor() { return *executor_; }

private:
    std::shared_ptr<StoreContext> context_;
    std::unique_ptr<StoreExecutor> executor_;
};

} // namespace tolvex
