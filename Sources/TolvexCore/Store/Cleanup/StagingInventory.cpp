#include "TolvexCore/Store/Cleanup/StagingInventory.h"


#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Content/OwnedPaths.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/RecordEquality.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Cleanup/PlainTextOrder.h"
#include "TolvexCore/Store/Cleanup/StorageCleanupPlanner.h"
#include "TolvexCore/Store/Internal/GuardedCopy.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <system_error>

namespace tolvex {

namespace {


bool sameFileInfo(const FileInfo& a, const FileInfo& b)
{
    return a.isRegularFile == b.isRegularFile && a.isSymbolicLink == b.isSymbolicLink && a.byteCount == b.byteCount
        && a.modificationDate == b.modificationDate;
}

bool isPlainFile(const FileInfo& info)
{
    return info.isRegularFile && !info.isSymbolicLink;
}

QString stagingKey(const CleanupTarget& target)
{
    const bool hasDigest = !target.fingerprints.isEmpty() && target.fingerprints.first().sha256;
    return StagingInventory::contentKey(hasDigest ? *target.fingerprints.first().sha256 : QString(), target.byteCount);
}

} // namespace

StagingInventory::StagingInventory(StoreContext& context, CleanupCollaborators collaborators)
    : context_(context), collaborators_(std::move(collaborators))
{
}

QString StagingInventory::contentKey(const QString& sha256, std::int64_t byteCount)
{
    return sha256 + u':' + QString::number(byteCount);
}

QList<StagingRecoveryItem> StagingInventory::stagingRecoveryInventory()
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    // No staging list while the privacy mode is on.
    if (snapshot.privacyHidden)
        throw StoreError::invalidSource();
    return stagingRecoveryInventory(snapshot).items;
}

StagingInventory::Result StagingInventory::stagingRecoveryInventory(const WorkspaceSnapshot& snapshot)
{
    QList<QUrl> entries = context_.list(context_.url(DataRoot::transactionsFolder()));
    PlainTextOrder::stableSortBy(entries, [](const QUrl& entry) { return entry.fileName(); });

    struct Candidate {
        QString relativePath;
        CleanupTarget target;
        QString key;
    };
    QList<StagingRecoveryItem> items;
    QList<Candidate> candidates;
    StorageCleanupPlanner planner(context_, collaborators_);
    for (const QUrl& entry : entries) {
        const QString name = entry.fileName();
        // What file managers and sync tools leave in any folder they show
        // (".DS_Store", ".directory") is no staging file, as it is no draft
        // in "Drafts": the store names none of its entries so.
        if (DataRoot::isJournalName(name) || DataRoot::isHiddenName(name))
            continue;
        const QString relativePath = DataRoot::entry(DataRoot::transactionsFolder(), name);
        bool candidate = false;
        try {
            const FileInfo info = context_.files->inspect(context_.url(relativePath));
            candidate = isPlainFile(info) && info.byteCount >= 0 && info.byteCount <= context_.budget.maxFileBytes
                && ContentStore::isStagingFilename(name);
        } catch (const StoreError&) {
            // An entry the guard or the file layer cannot look at is for the user to inspect.
        } catch (const std::system_error&) {
        }
        if (!candidate) {
            items.append(StagingRecoveryItem{relativePath, std::nullopt, StagingRecoveryItem::Disposition::needsInspection});
            continue;
        }
        CleanupTarget target = planner.cleanupTarget(relativePath, CleanupTarget::Kind::unownedStaging, nullptr);
        const QString key = stagingKey(target);
        candidates.append(Candidate{relativePath, std::move(target), key});
    }
    // Without a staging file nothing else is read, so nothing else can fail.
    if (candidates.isEmpty())
        return Result{items, {}};

    QSet<QString> stagedKeys;
    for (const Candidate& candidate : candidates)
        stagedKeys.insert(candidate.key);

    QList<MaterialVersion> versions;
    for (const MaterialRecord& record : snapshot.materials)
        versions += record.versions;
    collectStateVersions(DataRoot::stateFile(), versions);
    collectStateVersions(DataRoot::previousStateFile(), versions);
    checkJournals(entries);

    QSet<QString> wanted;
    QSet<QString> examined;
    for (const MaterialVersion& version : versions) {
        const QString key = contentKey(version.sha256, version.byteCount);
        if (!stagedKeys.contains(key))
            continue;
        const QString payload = version.relativePath + u':' + key;
        if (examined.contains(payload))
            continue;
        examined.insert(payload);
        if (!payloadIsIntact(version))
            wanted.insert(key);
    }

    for (const NoteDraft& draft : collaborators_.noteDrafts(context_)) {
        if (!draft.isPending())
            continue;
        const QByteArray text = draft.text.toUtf8();
        wanted.insert(contentKey(ContentStore::digest(text), text.size()));
    }
    addPendingSessionContent(snapshot, wanted);

    Result result;
    result.items = std::move(items);
    for (Candidate& candidate : candidates) {
        const bool referenced = wanted.contains(candidate.key);
        result.items.append(StagingRecoveryItem{candidate.relativePath, candidate.target.byteCount,
            referenced ? StagingRecoveryItem::Disposition::referenced : StagingRecoveryItem::Disposition::unowned});
        if (!referenced)
            result.targets.append(std::move(candidate.target));
    }
    PlainTextOrder::stableSortBy(result.items, [](const StagingRecoveryItem& item) { return item.relativePath; });
    return result;
}

void StagingInventory::collectStateVersions(const QString& name, QList<MaterialVersion>& versions)
{
    const QUrl url = context_.url(name);
    if (!context_.exists(url))
        return;
    const FileInfo first = context_.files->inspect(url);
    if (!isPlainFile(first))
        throw StoreError::recoveryRequired();
    const WorkspaceSnapshot snapshot = context_.readRecord<WorkspaceSnapshot>(url);
    context_.validate(snapshot);
    if (!sameFileInfo(context_.files->inspect(url), first))
        throw StoreError::sourceChanged();
    for (const MaterialRecord& record : snapshot.materials)
        versions += record.versions;
}

void StagingInventory::checkJournals(const QList<QUrl>& sortedEntries)
{
    // Journals are read so that a damaged "Transactions" stops the inventory
    // as it stops the load; their versions do not make content wanted (see
    // the class comment).
    for (const QUrl& entry : sortedEntries) {
        const QString name = entry.fileName();
        if (!DataRoot::isJournalName(name))
            continue;
        const QUrl url = context_.url(DataRoot::entry(DataRoot::transactionsFolder(), name));
        if (!isPlainFile(context_.files->inspect(url)))
            throw StoreError::recoveryRequired();
        const StoreJournal journal = context_.readRecord<StoreJournal>(url);
        if (name != DataRoot::journalFileName(journal.id))
            throw StoreError::recoveryRequired();
        context_.validateRecord(journal.record);
    }
}

bool StagingInventory::payloadIsIntact(const MaterialVersion& version) const
{
    try {
        const QUrl url = context_.url(version.relativePath);
        const FileInfo first = context_.files->inspect(url);
        if (!isPlainFile(first) || first.byteCount != version.byteCount)
            return false;
        if (ContentStore::digest(context_.files->read(url)) != version.sha256)
            return false;
        const FileInfo again = context_.files->inspect(url);
        return isPlainFile(again) && again.byteCount == version.byteCount
            && again.modificationDate == first.modificationDate;
    } catch (const StoreError&) {
        return false;
    } catch (const std::system_error&) {
        return false;
    }
}

void StagingInventory::addPendingSessionContent(const WorkspaceSnapshot& snapshot, QSet<QString>& wanted)
{
    StorageCleanupPlanner planner(context_, collaborators_);
    for (const QUuid& id : context_.draftFolderIDs()) {
        const QString folder = DataRoot::draftFolder(id);
        if (!context_.exists(context_.url(DataRoot::editSessionPath(id))))
            continue;
        const auto [session, disposition] = collaborators_.editSessionDisposition(context_, id, snapshot);
        if (disposition != EditSessionDisposition::pending)
            continue;
        // The classifier has checked that the session's working URL is this
        // guarded path; the walk goes through the guard all the same.
        const QList<CleanupFingerprint> fingerprints =
            planner.cleanupFingerprints(context_.url(folder + u'/' + session.workingURL.fileName()));
        if (fingerprints.isEmpty() || !fingerprints.first().sha256)
            throw StoreError::recoveryRequired();
        wanted.insert(contentKey(*fingerprints.first().sha256, fingerprints.first().bytes));
    }
}

QUrl StagingInventory::exportStagingCopy(const CleanupTarget& target, const StorageCleanupPlan& plan,
    const QUrl& destination)
{
    StorageCleanupPlanner planner(context_, collaborators_);
    const StorageCleanupPlan fresh = planner.buildCleanupPlan(plan.exportCutoff, plan.heldDrafts);
    if (!RecordEquality::same(plan.root, context_.paths.root()) || plan.generation != fresh.generation
        || target.kind != CleanupTarget::Kind::unownedStaging || !plan.targets.contains(target)
        || !fresh.targets.contains(target))
        throw StoreError::sourceChanged();

    const QUrl standardized = destination.isLocalFile()
        ? QUrl::fromLocalFile(OwnedPaths::standardized(destination.toLocalFile()))
        : destination;
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    for (const MaterialRecord& record : snapshot.materials) {
        if (record.source.filePath
            && QUrl::fromLocalFile(OwnedPaths::standardized(*record.source.filePath)) == standardized)
            throw StoreError::invalidPath();
    }
    collaborators_.checkDestinationOutsideDataRoot(context_, standardized);
    if (context_.exists(standardized))
        throw StoreError::invalidPath();

    const QUrl staging = context_.url(target.relativePath);
    if (planner.cleanupFingerprints(staging) != target.fingerprints)
        throw StoreError::sourceChanged();
    copyToCheckedDestination(context_, staging, DestinationPlacement{standardized.toLocalFile(), std::nullopt});
    if (planner.cleanupFingerprints(staging) != target.fingerprints)
        throw StoreError::sourceChanged();

    const FileInfo copied = context_.files->inspect(standardized);
    if (!isPlainFile(copied))
        throw StoreError::sourceChanged();
    const QString digest = ContentStore::digest(context_.files->read(standardized));
    if (target.fingerprints.isEmpty() || target.fingerprints.first().sha256 != digest)
        throw StoreError::sourceChanged();
    return standardized;
}

} // namespace tolvex
