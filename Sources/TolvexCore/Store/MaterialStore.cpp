#include "TolvexCore/Store/MaterialStore.h"

#include "TolvexCore/Store/ClipboardSettingsStore.h"
#include "TolvexCore/Store/EditSessions.h"
#include "TolvexCore/Store/ExportCopies.h"
#include "TolvexCore/Store/ImportCommit.h"
#include "TolvexCore/Store/MaterialCommands.h"
#include "TolvexCore/Store/NoteDraftStore.h"
#include "TolvexCore/Store/PayloadAccess.h"
#include "TolvexCore/Store/SnapshotRestore.h"
#include "TolvexCore/Store/StagingInventory.h"
#include "TolvexCore/Store/StorageCleanupExecutor.h"
#include "TolvexCore/Store/StorageCleanupPlanner.h"
#include "TolvexCore/Store/StoreContext.h"
#include "TolvexCore/Store/StoreExecutor.h"
#include "TolvexCore/Store/WorkspaceLoader.h"

namespace tolvex {

MaterialStore::MaterialStore(const QUrl& root, FileOperationsRef files, StorageBudget budget)
    : context_(std::make_shared<StoreContext>(root, std::move(files), budget))
    , executor_(std::make_unique<StoreExecutor>(context_))
{
}

MaterialStore::~MaterialStore() = default;

QFuture<WorkspaceSnapshot> MaterialStore::load()
{
    return executor_->runTested([](StoreContext& context) { return WorkspaceLoader(context).ensureLoaded(); });
}

QFuture<WorkspaceSnapshot> MaterialStore::restorePreviousSnapshot()
{
    return executor_->runHolding(
        [](StoreContext& context) { return SnapshotRestore(context).restorePreviousSnapshot(); });
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
    return executor_->run([](StoreContext& context) { return ClipboardSettingsStore(context).clipboardPreferences(); });
}

QFuture<void> MaterialStore::setClipboardPreferences(const ClipboardPreference& preference)
{
    return executor_->run([preference](StoreContext& context) {
        ClipboardSettingsStore(context).setClipboardPreferences(preference);
    });
}

QFuture<bool> MaterialStore::clipboardEnabled()
{
    return executor_->run([](StoreContext& context) { return ClipboardSettingsStore(context).clipboardEnabled(); });
}

QFuture<void> MaterialStore::setClipboardEnabled(bool enabled)
{
    return executor_->run(
        [enabled](StoreContext& context) { ClipboardSettingsStore(context).setClipboardEnabled(enabled); });
}

QFuture<ClipboardFileFingerprint> MaterialStore::clipboardFileFingerprint(const QUrl& url)
{
    return executor_->runTested(
        [url](StoreContext& context) { return ClipboardSettingsStore(context).clipboardFileFingerprint(url); });
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
        [materialID](StoreContext& context) { return NoteDraftStore(context).createNoteDraft(materialID); });
}

QFuture<NoteDraft> MaterialStore::updateNoteDraft(const QUuid& draftID, const QString& text)
{
    return executor_->runTested(
        [draftID, text](StoreContext& context) { return NoteDraftStore(context).updateNoteDraft(draftID, text); });
}

QFuture<QList<NoteDraft>> MaterialStore::pendingNoteDrafts()
{
    return executor_->runTested([](StoreContext& context) { return NoteDraftStore(context).pendingNoteDrafts(); });
}

QFuture<WorkspaceSnapshot> MaterialStore::publishNoteDraft(const QUuid& draftID, std::int64_t visibleCapacity,
    const CancellationToken& cancellation)
{
    NoteDraftStore::PublicationOrder order{draftID, visibleCapacity, cancellation};
    return executor_->runSuspending<WorkspaceSnapshot, NoteDraftStore::Plan, StagedContent>(
        [order](StoreContext& context) { return NoteDraftStore::preparePublication(context, order); },
        [content = context_->content](const NoteDraftStore::Plan& plan) {
            return NoteDraftStore::stagePublication(content, plan);
        },
        &NoteDraftStore::finishPublication);
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

QFuture<QUrl> MaterialStore::exportCopy(const QUuid& materialID, const std::optional<QUuid>& versionID,
    const QUrl& destination, const CancellationToken& cancellation)
{
    return executor_->runHolding([materialID, versionID, destination, cancellation](StoreContext& context) {
        return ExportCopies(context).exportCopy(materialID, versionID, destination, cancellation);
    });
}

QFuture<StorageCleanupPlan> MaterialStore::previewStorageCleanup(const Date& now)
{
    return executor_->runTested(
        [now](StoreContext& context) { return StorageCleanupPlanner(context).previewStorageCleanup(now); });
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
