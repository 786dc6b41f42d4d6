#include "TolvexCore/Store/Cleanup/StorageCleanupPlanner.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Content/OwnedPaths.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/UnexpectedEntryError.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Cleanup/PlainTextOrder.h"
#include "TolvexCore/Store/Cleanup/StagingInventory.h"
#include "TolvexCore/Store/Internal/NoteDrafts.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <system_error>

namespace tolvex {

namespace {



std::int64_t addedBytes(std::int64_t total, std::int64_t more)
{
    std::int64_t sum = 0;
    if (more < 0 || __builtin_add_overflow(total, more, &sum))
        throw StoreError::budgetExceeded();
    return sum;
}

bool isFolder(const FileInfo& info)
{
    return !info.isRegularFile && !info.isSymbolicLink;
}

} // namespace

StorageCleanupPlanner::StorageCleanupPlanner(StoreContext& context, CleanupCollaborators collaborators)
    : context_(context), collaborators_(std::move(collaborators))
{
}

StorageCleanupPlan StorageCleanupPlanner::previewStorageCleanup(const Date& now, const QSet<QUuid>& heldDrafts)
{
    return buildCleanupPlan(now.addingSeconds(-exportAgeSeconds), heldDrafts);
}

StorageCleanupPlan StorageCleanupPlanner::buildCleanupPlan(const Date& exportCutoff, const QSet<QUuid>& heldDrafts)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    // Nothing is planned while the shelf is hidden: a plan names materials.
    if (snapshot.privacyHidden)
        throw StoreError::invalidSource();

    // A pending draft protects its material while a window holds it; one no
    // window holds is abandoned work, offered on its own.
    QSet<QUuid> protectedIDs;
    QList<CleanupTarget> abandoned;
    for (const NoteDraft& draft : collaborators_.noteDrafts(context_)) {
        if (!draft.isPending())
            continue;
        if (heldDrafts.contains(draft.id)) {
            protectedIDs.insert(draft.materialID);
            continue;
        }
        CleanupTarget target = cleanupTarget(
            DataRoot::draftFolder(draft.id), CleanupTarget::Kind::pendingDraft, snapshot.findMaterial(draft.materialID));
        // A new note has no material yet: its own title names it.
        if (!target.materialID && !NoteDrafts::title(draft.text).isEmpty())
            target.title = NoteDrafts::title(draft.text);
        abandoned.append(std::move(target));
    }
    protectedIDs.unite(context_.activeNoteMaterials);

    QList<CleanupTarget> completedEdits = scanDrafts(snapshot, heldDrafts, protectedIDs, abandoned);
    protectJournalledMaterials(snapshot, protectedIDs);
    StagingInventory::Result staging = StagingInventory(context_, collaborators_).stagingRecoveryInventory(snapshot);

    QList<CleanupTarget> targets = std::move(staging.targets);
    targets += materialTargets(snapshot, protectedIDs);
    PlainTextOrder::stableSortBy(completedEdits, [](const CleanupTarget& target) { return target.relativePath; });
    targets += completedEdits;
    targets += exportTargets(exportCutoff);
    PlainTextOrder::stableSortBy(abandoned, [](const CleanupTarget& target) { return target.relativePath; });
    targets += abandoned;

    std::int64_t total = 0;
    for (const CleanupTarget& target : targets)
        total = addedBytes(total, target.byteCount);

    StorageCleanupPlan plan;
    plan.id = QUuid::createUuid();
    plan.targets = std::move(targets);
    plan.stagingInventory = std::move(staging.items);
    plan.root = context_.paths.root();
    plan.generation = snapshot.generation;
    plan.exportCutoff = exportCutoff;
    plan.heldDrafts = heldDrafts;
    return plan;
}

QList<CleanupTarget> StorageCleanupPlanner::scanDrafts(const WorkspaceSnapshot& snapshot,
    const QSet<QUuid>& heldDrafts, QSet<QUuid>& protectedIDs, QList<CleanupTarget>& abandoned)
{
    QList<CleanupTarget> completed;
    for (const QUuid& id : context_.draftFolderIDs()) {
        const QString folder = DataRoot::draftFolder(id);
        if (!context_.exists(context_.url(DataRoot::editSessionPath(id)))) {
            // Empty, or a note draft; a file manager's hidden files aside.
            for (const QUrl& entry : context_.list(context_.url(folder))) {
                const QString name = entry.fileName();
                if (name != DataRoot::noteDraftFileName() && !DataRoot::isHiddenName(name))
                    throw UnexpectedEntryError(folder, name);
            }
            continue;
        }

        const auto [session, disposition] = collaborators_.editSessionDisposition(context_, id, snapshot);
        if (disposition == EditSessionDisposition::completed)
            completed.append(cleanupTarget(folder, CleanupTarget::Kind::completedEdit,
                snapshot.findMaterial(session.materialID)));
        else if (heldDrafts.contains(id))
            protectedIDs.insert(session.materialID);
        else
            abandoned.append(
                cleanupTarget(folder, CleanupTarget::Kind::pendingDraft, snapshot.findMaterial(session.materialID)));
    }
    return completed;
}

void StorageCleanupPlanner::protectJournalledMaterials(const WorkspaceSnapshot& snapshot, QSet<QUuid>& protectedIDs)
{
    for (const QString& name : context_.journalFileNames()) {
        const QUrl journalURL = context_.url(DataRoot::entry(DataRoot::transactionsFolder(), name));
        const StoreJournal journal = context_.readRecord<StoreJournal>(journalURL);
        if (name != DataRoot::journalFileName(journal.id))
            throw StoreError::recoveryRequired();

        // The phase plays no part: what the snapshot holds decides.
        const MaterialRecord* held = snapshot.findMaterial(journal.record.id);
        bool reflected = true;
        for (const MaterialVersion& version : journal.record.versions) {
            const bool found = held
                && std::any_of(held->versions.begin(), held->versions.end(),
                    [&version](const MaterialVersion& other) { return other == version; });
            if (!found) {
                reflected = false;
                break;
            }
        }
        if (!reflected)
            protectedIDs.insert(journal.record.id);
    }
}

QList<CleanupTarget> StorageCleanupPlanner::materialTargets(const WorkspaceSnapshot& snapshot,
    const QSet<QUuid>& protectedIDs)
{
    QList<const MaterialRecord*> records;
    records.reserve(snapshot.materials.size());
    for (const MaterialRecord& record : snapshot.materials)
        records.append(&record);
    // Upper-case UUID texts: their plain order is the byte order of the ids.
    std::stable_sort(records.begin(), records.end(),
        [](const MaterialRecord* a, const MaterialRecord* b) { return uuidText(a->id) < uuidText(b->id); });

    QList<CleanupTarget> targets;
    for (const MaterialRecord* record : records) {
        if (record->status != MaterialStatus::takenDown && record->status != MaterialStatus::trashed)
            continue;
        if (record->pinned || protectedIDs.contains(record->id))
            continue;
        const QString folder = DataRoot::materialFolder(record->id);
        if (context_.exists(context_.url(folder))) {
            targets.append(cleanupTarget(folder, CleanupTarget::Kind::material, record));
            continue;
        }
        // A trashed material's folder may already be in the Trash; a taken-down
        // one must still have its payloads.
        if (record->status == MaterialStatus::takenDown)
            throw StoreError::recoveryRequired();
    }
    return targets;
}

QList<CleanupTarget> StorageCleanupPlanner::exportTargets(const Date& exportCutoff)
{
    QList<QUrl> entries = context_.list(context_.url(DataRoot::exportsFolder()));
    PlainTextOrder::stableSortBy(entries, [](const QUrl& entry) { return entry.fileName(); });
    QList<CleanupTarget> targets;
    for (const QUrl& entry : entries) {
        // Every entry is fingerprinted, young ones included, so that a link or
        // an unreadable file anywhere in "Exports" stops the plan.
        CleanupTarget target =
            cleanupTarget(DataRoot::entry(DataRoot::exportsFolder(), entry.fileName()), CleanupTarget::Kind::temporaryExport, nullptr);
        const bool old = std::all_of(target.fingerprints.begin(), target.fingerprints.end(),
            [&exportCutoff](const CleanupFingerprint& fingerprint) { return fingerprint.modifiedAt < exportCutoff; });
        if (old)
            targets.append(std::move(target));
    }
    return targets;
}

CleanupTarget StorageCleanupPlanner::cleanupTarget(const QString& relativePath, CleanupTarget::Kind kind,
    const MaterialRecord* record)
{
    CleanupTarget target;
    target.kind = kind;
    target.relativePath = relativePath;
    target.fingerprints = cleanupFingerprints(context_.url(relativePath));
    for (const CleanupFingerprint& fingerprint : target.fingerprints) {
        if (fingerprint.directory)
            continue;
        target.byteCount = addedBytes(target.byteCount, fingerprint.bytes);
        ++target.fileCount;
    }
    target.title = record ? record->title : DataRoot::lastPathComponent(relativePath);
    if (record)
        target.materialID = record->id;
    return target;
}

QList<CleanupFingerprint> StorageCleanupPlanner::cleanupFingerprints(const QUrl& url) const
{
    QList<CleanupFingerprint> fingerprints;
    visit(url, QString(), fingerprints);
    return fingerprints;
}

void StorageCleanupPlanner::visit(const QUrl& url, const QString& relative,
    QList<CleanupFingerprint>& fingerprints) const
{
    const FileOperations& files = *context_.files;
    const FileInfo first = files.inspect(url);
    if (first.isSymbolicLink)
        throw StoreError::invalidPath();

    if (isFolder(first)) {
        fingerprints.append(CleanupFingerprint{relative, true, 0, first.modificationDate, std::nullopt});
        const QString folderPath = OwnedPaths::standardized(url.toLocalFile());
        QList<QUrl> entries = context_.list(url);
        PlainTextOrder::stableSortBy(entries, [](const QUrl& entry) { return entry.fileName(); });
        for (const QUrl& entry : entries) {
            const QString entryPath = OwnedPaths::standardized(entry.toLocalFile());
            const qsizetype slash = entryPath.lastIndexOf(u'/');
            // An entry the listing places anywhere but directly in this folder
            // would take the walk somewhere else.
            if (slash < 0 || entryPath.left(slash) != folderPath)
                throw StoreError::invalidPath();
            const QString name = entryPath.mid(slash + 1);
            visit(entry, relative.isEmpty() ? name : relative + u'/' + name, fingerprints);
        }
        const FileInfo again = files.inspect(url);
        if (!isFolder(again) || again.byteCount != first.byteCount || again.modificationDate != first.modificationDate)
            throw StoreError::sourceChanged();
        return;
    }

    if (first.byteCount < 0 || first.byteCount > context_.budget.maxFileBytes)
        throw StoreError::budgetExceeded();
    const QByteArray bytes = files.read(url);
    const QString sha256 = ContentStore::digest(bytes);
    const FileInfo again = files.inspect(url);
    if (!again.isRegularFile || again.isSymbolicLink || again.byteCount != first.byteCount
        || again.modificationDate != first.modificationDate || bytes.size() != first.byteCount)
        throw StoreError::sourceChanged();
    fingerprints.append(CleanupFingerprint{relative, false, first.byteCount, first.modificationDate, sha256});
}

} // namespace tolvex
