#include "TolvexCore/Store/MaterialStore.h"

#include "TolvexCore/Store/Internal/ClipboardSettingsFile.h"
#include "TolvexCore/Store/Internal/DraftDiscard.h"
#include "TolvexCore/Store/Internal/EditSessions.h"
#include "TolvexCore/Store/Internal/ExportCopies.h"
#include "TolvexCore/Store/Internal/ImportCommit.h"
#include "TolvexCore/Store/Internal/MaterialCommands.h"
#include "TolvexCore/Store/Internal/NoteDrafts.h"
#include "TolvexCore/Store/Internal/PayloadAccess.h"
#include "TolvexCore/Store/Internal/SnapshotRestore.h"
#include "TolvexCore/Store/Cleanup/StagingInventory.h"
#include "TolvexCore/Store/Cleanup/StorageCleanupExecutor.h"
#include "TolvexCore/Store/Cleanup/StorageCleanupPlanner.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Store/Internal/StoreExecutor.h"
#include "TolvexCore/Store/Internal/WorkspaceLoader.h"

namespace tolvex {

MaterialStore::MaterialStore(const QUrl& root, FileOperationsRef files, StorageBudget budget)
    : context_(std::make_shared<StoreContext>(root, std::move(files), budget))
    , executor_(std::make_unique<StoreExecutor>(context_))
{
}

MaterialStore::MaterialStore(const QUrl& root, FileOperationsRef files, StorageBudget budget, DataRootLock lock)
    : context_(std::make_shared<StoreContext>(root, std::move(files), budget, std::move(lock)))
    , executor_(std::make_unique<StoreExecutor>(context_))
{
}

DataRootLock MaterialStore::lockDataRoot(const QUrl& root)
{
    return StoreContext::lockRoot(OwnedPaths(root));
}

MaterialStore::~MaterialStore()
{
    executor_.reset();
    context_->releaseRoot();
}

QFuture<WorkspaceSnapshot> MaterialStore::load()
{
    return executor_->runTested([](StoreContext& context) { return WorkspaceLoader(context).ensureLoaded(); });
}

bool MaterialStore::isBusy() const
{
    return context_->busy;
}

const QUrl& MaterialStore::root() const
{
    return context_->paths.root();
}

QFuture<WorkspaceSnapshot> MaterialStore::restorePreviousSnapshot()
{
    return executor_->runHolding(
        [](StoreContext& context) { return SnapshotRestore(context).restorePreviousSnapshot(); });
}

QFuture<bool> MaterialStore::canRestorePreviousSnapshot()
{
    return executor_->runTested(
        [](StoreContext& context) { return SnapshotRestore(context).canRestorePreviousSnapshot(); });
}

QFuture<QUrl> MaterialStore::payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID)
{
    return executor_->run(
        [materialID, versionID](StoreContext& context) { return PayloadAccess(context).payloadURL(materialID, versionID); });
}

QFuture<PresentationPayloads> MaterialStore::presentationPayloads(const QList<MaterialRecord>& records)
{
    return executor_->run(
        [records](StoreContext& context) { return PayloadAccess(context).presentationPayloads(records); });
}

QFuture<ClipboardPreference> MaterialStore::clipboardPreferences()
{
    return executor_->run([](StoreContext& context) { return ClipboardSettingsFile(context).clipboardPreferences(); });
}

QFuture<void> MaterialStore::setClipboardPreferences(const ClipboardPreference& preference)
{
    return executor_->run([preference](StoreContext& context) {
        ClipboardSettingsFile(context).setClipboardPreferences(preference);
    });
}

QFuture<bool> MaterialStore::clipboardEnabled()
{
    return executor_->run([](StoreContext& context) { return ClipboardSettingsFile(context).clipboardEnabled(); });
}

QFuture<void> MaterialStore::setClipboardEnabled(bool enabled)
{
    return executor_->run(
        [enabled](StoreContext& context) { ClipboardSettingsFile(context).setClipboardEnabled(enabled); });
}

QFuture<ClipboardFileFingerprint> MaterialStore::clipboardFileFingerprint(const QUrl& url)
{
    return executor_->runTested(
        [url](StoreContext& context) { return ClipboardSettingsFile(context).clipboardFileFingerprint(url); });
}

QFuture<ImportResult> MaterialStore::importMaterial(const ImportRequest& request, const QUuid& matterID,
    std::int64_t visibleCapacity, bool deduplicateClipboardContent,
    const std::optional<ClipboardFileFingerprint>& expectedClipboardFile, DuplicateImportPolicy duplicatePolicy,
    const CancellationToken& cancellation)
{
    ImportOrder order{request, matterID, visibleCapacity, deduplicateClipboardContent, expectedClipboardFile,
        duplicatePolicy, cancellation};
    return executor_->runSuspending<ImportResult, ImportCommit::Plan, StagedContent>(
        [order](StoreContext& context) { return ImportCommit::prepare(context, order); },
        [content = context_->content](const ImportCommit::Plan& plan) { return ImportCommit::stage(content, plan); },
        &ImportCommit::finish);
}

QFuture<WorkspaceSnapshot> MaterialStore::apply(const MaterialCommand& command, std::int64_t visibleCapacity)
{
    return executor_->runTested([command, visibleCapacity](StoreContext& context) {
        return MaterialCommands(context).apply(command, visibleCapacity);
    });
}

QFuture<NoteDraft> MaterialStore::createNoteDraft(const std::optional<QUuid>& materialID)
{
    return executor_->runTested(
        [materialID](StoreContext& context) { return NoteDrafts(context).createNoteDraft(materialID); });
}

QFuture<NoteDraft> MaterialStore::updateNoteDraft(const QUuid& draftID, const QString& text)
{
    return executor_->runTested(
        [draftID, text](StoreContext& context) { return NoteDrafts(context).updateNoteDraft(draftID, text); });
}

QFuture<QList<NoteDraft>> MaterialStore::pendingNoteDrafts()
{
    return executor_->runTested([](StoreContext& context) { return NoteDrafts(context).pendingNoteDrafts(); });
}

QFuture<WorkspaceSnapshot> MaterialStore::publishNoteDraft(const QUuid& draftID, std::int64_t visibleCapacity,
    const CancellationToken& cancellation)
{
    NoteDrafts::PublicationOrder order{draftID, visibleCapacity, cancellation};
    return executor_->runSuspending<WorkspaceSnapshot, NoteDrafts::Plan, StagedContent>(
        [order](StoreContext& context) { return NoteDrafts::preparePublication(context, order); },
        [content = context_->content](const NoteDrafts::Plan& plan) {
            return NoteDrafts::stagePublication(content, plan);
        },
        &NoteDrafts::finishPublication);
}

QFuture<EditSession> MaterialStore::createDerivedVersion(const QUuid& materialID, VersionKind kind)
{
    return executor_->runTested(
        [materialID, kind](StoreContext& context) { return EditSessions(context).createDerivedVersion(materialID, kind); });
}

QFuture<void> MaterialStore::writeEditingResult(const EditSession& session, const QByteArray& data)
{
    return executor_->runTested(
        [session, data](StoreContext& context) { EditSessions(context).writeEditingResult(session, data); });
}

QFuture<WorkspaceSnapshot> MaterialStore::finishEditing(
    const EditSession& session, const EditResult& result, const CancellationToken& cancellation)
{
    using Plan = EditSessions::FinishPlan;
    return executor_->runSuspending<WorkspaceSnapshot, Plan, StagedContent>(
        [session, result, cancellation](StoreContext& context) {
            return EditSessions(context).prepareFinish(session, result, cancellation);
        },
        [](const Plan& plan) { return EditSessions::stageWorkingFile(plan); },
        [](StoreContext& context, Plan& plan, StagedContent& staged) {
            return EditSessions(context).completeFinish(plan, staged);
        });
}

QFuture<EditSession> MaterialStore::resumeEditingSession(const EditSession& session)
{
    return executor_->runTested(
        [session](StoreContext& context) { return EditSessions(context).resumeEditingSession(session); });
}

QFuture<QList<EditSession>> MaterialStore::pendingEditSessions()
{
    return executor_->runTested([](StoreContext& context) { return EditSessions(context).pendingEditSessions(); });
}

QFuture<EditSessionReview> MaterialStore::reviewEditSessions()
{
    return executor_->runTested([](StoreContext& context) { return EditSessions(context).reviewEditSessions(); });
}

QFuture<QSet<QUuid>> MaterialStore::editSessionsWithChanges(const QList<EditSession>& sessions)
{
    return executor_->runTested(
        [sessions](StoreContext& context) { return EditSessions(context).editSessionsWithChanges(sessions); });
}

QFuture<void> MaterialStore::discardEditSession(const QUuid& sessionID)
{
    return executor_->runTested([sessionID](StoreContext& context) { DraftDiscard(context).discardEditSession(sessionID); });
}

QFuture<void> MaterialStore::discardNoteDraft(const QUuid& draftID)
{
    return executor_->runTested([draftID](StoreContext& context) { DraftDiscard(context).discardNoteDraft(draftID); });
}

QFuture<QUrl> MaterialStore::exportCopy(const QUuid& materialID, const std::optional<QUuid>& versionID,
    const QUrl& destination, const CancellationToken& cancellation)
{
    return executor_->runHolding([materialID, versionID, destination, cancellation](StoreContext& context) {
        return ExportCopies(context).exportCopy(materialID, versionID, destination, cancellation);
    });
}

QFuture<StorageCleanupPlan> MaterialStore::previewStorageCleanup(const Date& now, const QSet<QUuid>& heldDrafts)
{
    return executor_->runTested([now, heldDrafts](StoreContext& context) {
        return StorageCleanupPlanner(context).previewStorageCleanup(now, heldDrafts);
    });
}

QFuture<StorageCleanupResult> MaterialStore::cleanStorage(const StorageCleanupPlan& plan)
{
    return executor_->runHolding(
        [plan](StoreContext& context) { return StorageCleanupExecutor(context).cleanStorage(plan); });
}

QFuture<QList<StagingRecoveryItem>> MaterialStore::stagingRecoveryInventory()
{
    return executor_->runTested(
        [](StoreContext& context) { return StagingInventory(context).stagingRecoveryInventory(); });
}

QFuture<QUrl> MaterialStore::exportStagingCopy(const CleanupTarget& target, const StorageCleanupPlan& plan,
    const QUrl& destination)
{
    return executor_->runHolding([target, plan, destination](StoreContext& context) {
        return StagingInventory(context).exportStagingCopy(target, plan, destination);
    });
}

} // namespace tolvex
