#include "TolvexCore/Store/Internal/EditSessions.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/UnexpectedEntryError.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/DraftDiscard.h"
#include "TolvexCore/Store/Internal/JournalledCommit.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <QSet>

#include <algorithm>
#include <system_error>

namespace tolvex {

namespace {

using DataRoot::lastPathComponent;
using DataRoot::pathExtension;

// markup belongs to images, textEdit to texts; nothing else fits.
bool kindFits(VersionKind kind, MaterialKind materialKind)
{
    return (kind == VersionKind::markup && materialKind == MaterialKind::image)
        || (kind == VersionKind::textEdit && materialKind == MaterialKind::text);
}

bool isRegularNonLink(const FileInfo& info)
{
    return info.isRegularFile && !info.isSymbolicLink;
}

// A file of this machine and nothing more: no other host, query or fragment.
bool isPlainLocalFile(const QUrl& url)
{
    const QString host = url.host();
    return url.isLocalFile() && (host.isEmpty() || host == u"localhost") && !url.hasQuery() && !url.hasFragment();
}

// The folder's entry names, as the file layer lists them.
QSet<QString> entryNames(const QList<QUrl>& entries)
{
    QSet<QString> names;
    for (const QUrl& entry : entries)
        names.insert(entry.fileName());
    return names;
}

} // namespace

EditSession EditSessions::createDerivedVersion(const QUuid& materialID, VersionKind kind)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    const MaterialRecord* material = snapshot.findMaterial(materialID);
    if (!material || material->status == MaterialStatus::trashed || !kindFits(kind, material->kind))
        throw StoreError::invalidEdit();

    const QUrl payload = context_.payloadURL(materialID);
    context_.checkBudget(context_.files->inspect(payload).byteCount);

    const QUuid id = QUuid::createUuid();
    const QString folder = DataRoot::draftFolder(id);
    context_.files->createDirectory(context_.url(folder));
    const QString extension = pathExtension(payload.fileName()).toString();
    const QUrl working = context_.url(DataRoot::workingFilePath(id, extension));
    context_.files->copy(payload, working);

    // The copy must be exactly the version the session builds on.
    const QString copied = ContentStore::digest(context_.files->read(working));
    const MaterialVersion* active = material->findVersion(material->activeVersionID);
    if (!active || active->sha256 != copied)
        throw StoreError::sourceChanged();

    const EditSession session{id, materialID, material->activeVersionID, working, kind};
    context_.files->writeAtomic(Json::encode(session), context_.url(DataRoot::editSessionPath(id)));
    return session;
}

void EditSessions::writeEditingResult(const EditSession& session, const QByteArray& data)
{
    context_.ensureLoaded();
    checkStoredSession(session);
    const QUrl working = ownedWorkingURL(session, StoreError::invalidPath());
    if (!isRegularNonLink(context_.files->inspect(working)))
        throw StoreError::invalidPath();
    // An empty text is a text; an empty image is nothing.
    if (data.isEmpty() && session.kind != VersionKind::textEdit)
        throw StoreError::invalidPath();
    context_.checkBudget(data.size());
    context_.files->writeAtomic(data, working);
}

std::variant<WorkspaceSnapshot, EditSessions::FinishPlan> EditSessions::prepareFinish(
    const EditSession& session, const EditResult& result, const CancellationToken& cancellation)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    checkStoredSession(session);
    const MaterialRecord* material = snapshot.findMaterial(session.materialID);
    if (!material || material->status == MaterialStatus::trashed)
        throw StoreError::invalidEdit();
    // A material that gained a version since must be resumed first; a saved
    // session cannot be saved twice.
    if (material->activeVersionID != session.baseVersionID)
        throw StoreError::invalidEdit();
    const QUrl working = ownedWorkingURL(session, StoreError::invalidEdit());

    const EditResult::Save* save = result.asSave();
    if (!save) {
        // An editor that kept nothing leaves nothing worth resuming, unless
        // the working file was written all the same (marks kept at a
        // termination, a resumed draft): then the session stays.
        if (result.discards() && holdsBaseVersion(session, snapshot)) {
            try {
                DraftDiscard(context_).discardEditSession(session.id);
            } catch (...) {
                // Left in place it is a pending session like any other,
                // offered in the recovery window: nothing is lost.
            }
        }
        return snapshot; // A cancel leaves the session as it is, to be resumed.
    }
    if (!sameFile(save->editedFile, working))
        throw StoreError::invalidEdit();

    const FileInfo info = context_.files->inspect(working);
    if (!isRegularNonLink(info))
        throw StoreError::invalidPath();
    context_.checkBudget(info.byteCount);
    return FinishPlan{session, working, snapshot, context_.content, cancellation, context_.budget.maxFileBytes};
}

StagedContent EditSessions::stageWorkingFile(const FinishPlan& plan)
{
    return plan.content.stage(
        ImportRequest::file(plan.workingURL, ImportOrigin::fileSelection), plan.cancellation, plan.maximumBytes);
}

WorkspaceSnapshot EditSessions::completeFinish(const FinishPlan& plan, const StagedContent& staged)
{
    const EditSession& session = plan.session;
    const bool fits = (session.kind == VersionKind::markup && staged.kind == MaterialKind::image)
        || (session.kind == VersionKind::textEdit && staged.kind == MaterialKind::text);
    if (!fits)
        throw StoreError::invalidEdit();
    plan.cancellation.check();

    const MaterialVersion version = JournalledCommit::plannedVersion(staged, session.materialID, session.kind);

    WorkspaceSnapshot updated = plan.snapshot;
    MaterialRecord* material = updated.findMaterial(session.materialID);
    if (!material)
        throw StoreError::invalidEdit();
    material->versions.append(version);
    material->activeVersionID = version.id;

    // Named by the session, so a retried save rewrites the same journal.
    StoreJournal journal{session.id, StoreJournal::Phase::contentReady, *material, session.baseVersionID};
    JournalledCommit::announce(context_, journal);
    material->versions.last() = JournalledCommit::complete(context_, staged, journal, version);

    // A failure from here on keeps the loaded workspace: the material's
    // active version is still the base, so the session stays open and a
    // retried save commits the working file again under a new version.
    return context_.persist(updated);
}

EditSession EditSessions::resumeEditingSession(const EditSession& session)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    const EditSession stored = checkStoredSession(session);
    const MaterialRecord* material = nullptr;
    for (const MaterialRecord& candidate : snapshot.materials) {
        if (candidate.id == session.materialID && candidate.status != MaterialStatus::trashed) {
            material = &candidate;
            break;
        }
    }
    if (!material || !material->findVersion(session.baseVersionID) || !kindFits(session.kind, material->kind))
        throw StoreError::invalidEdit();
    const QUrl working = ownedWorkingURL(session, StoreError::invalidEdit());
    const FileInfo info = context_.files->inspect(working);
    if (!isRegularNonLink(info) || info.byteCount < 0 || info.byteCount > context_.budget.maxFileBytes)
        throw StoreError::invalidPath();
    // The content the working file continues on must be present and intact.
    context_.payloadURL(session.materialID);

    if (material->activeVersionID == session.baseVersionID) {
        if (sameFile(stored.workingURL, working))
            return session;
        // The record still names the place the library was made in: from
        // now on it names this library's file.
        const EditSession here = sessionHere(stored, working);
        const QByteArray encoded = Json::encode(here);
        context_.checkBudget(encoded.size());
        context_.files->writeAtomic(encoded, context_.url(DataRoot::editSessionPath(session.id)));
        return here;
    }

    // The active version moved on (another session's save, or one the
    // journal replay took in): make that version durable in "state.json"
    // before the session is moved onto it.
    context_.persist(snapshot);
    EditSession moved = session;
    moved.baseVersionID = material->activeVersionID;
    moved.workingURL = working;
    const QByteArray encoded = Json::encode(moved);
    context_.checkBudget(encoded.size());
    context_.files->writeAtomic(encoded, context_.url(DataRoot::editSessionPath(session.id)));
    return moved;
}

QList<EditSession> EditSessions::pendingEditSessions()
{
    return listSessions(false).pending;
}

EditSessionReview EditSessions::reviewEditSessions()
{
    return listSessions(true);
}

EditSessionReview EditSessions::listSessions(bool tolerant)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    EditSessionReview review;
    for (const QUuid& id : context_.draftFolderIDs()) {
        // A folder without a session record is a note draft (or a session
        // whose creation failed): not a session.
        if (!context_.exists(context_.url(DataRoot::editSessionPath(id))))
            continue;
        try {
            auto [session, disposition] = editSessionDisposition(id, snapshot);
            if (disposition == EditSessionDisposition::pending)
                review.pending.append(std::move(session));
        } catch (const UnexpectedEntryError&) {
            // Named, the stray entry can be moved out and the session resumed.
            throw;
        } catch (const StoreError& error) {
            // What the folder holds, not the library, is at fault.
            const bool folderAtFault = error.code() == StoreError::Code::recoveryRequired
                || error.code() == StoreError::Code::invalidPath;
            if (!tolerant || !folderAtFault)
                throw;
            review.unreadable.append(unreadableSession(id, snapshot));
        }
    }
    std::stable_sort(review.pending.begin(), review.pending.end(),
        [](const EditSession& a, const EditSession& b) { return uuidText(a.id) < uuidText(b.id); });
    std::stable_sort(review.unreadable.begin(), review.unreadable.end(),
        [](const auto& a, const auto& b) { return uuidText(a.id) < uuidText(b.id); });
    return review;
}

EditSessionReview::Unreadable EditSessions::unreadableSession(const QUuid& sessionID, const WorkspaceSnapshot& snapshot)
{
    EditSessionReview::Unreadable unreadable{sessionID, std::nullopt, std::nullopt};
    // Each part is told only where it can be; nothing here fails the listing.
    try {
        const EditSession record = context_.readRecord<EditSession>(context_.url(DataRoot::editSessionPath(sessionID)));
        if (snapshot.findMaterial(record.materialID))
            unreadable.materialID = record.materialID;
    } catch (const std::exception&) {
    }
    try {
        // The folder's own file, found by the name the store gives it; never
        // the place a record names.
        const QString folder = DataRoot::draftFolder(sessionID);
        QList<QUrl> working;
        for (const QUrl& entry : context_.list(context_.url(folder))) {
            const QString name = entry.fileName();
            if (name != DataRoot::workingFileName(pathExtension(name).toString()))
                continue;
            const QUrl owned = context_.url(DataRoot::entry(folder, name));
            if (isRegularNonLink(context_.files->inspect(owned)))
                working.append(owned);
        }
        if (working.size() == 1)
            unreadable.workingFile = working.first();
    } catch (const std::exception&) {
    }
    return unreadable;
}

std::pair<EditSession, EditSessionDisposition> EditSessions::editSessionDisposition(
    const QUuid& sessionID, const WorkspaceSnapshot& snapshot)
{
    using enum EditSessionDisposition;
    const QString folder = DataRoot::draftFolder(sessionID);

    const QUrl sessionURL = context_.url(DataRoot::editSessionPath(sessionID));
    const EditSession session = context_.readRecord<EditSession>(sessionURL);
    if (session.id != sessionID || session.kind == VersionKind::original)
        throw StoreError::recoveryRequired();

    const MaterialRecord* material = snapshot.findMaterial(session.materialID);
    if (!material)
        throw StoreError::recoveryRequired();
    qsizetype base = -1;
    for (qsizetype i = 0; i < material->versions.size(); ++i) {
        if (material->versions[i].id == session.baseVersionID) {
            base = i;
            break;
        }
    }
    if (base < 0 || !kindFits(session.kind, material->kind))
        throw StoreError::recoveryRequired();

    const QUrl working = ownedWorkingURL(session, StoreError::recoveryRequired());
    const EditSession here = sessionHere(session, working);
    // A sound session folder holds its record and its working file, nothing
    // else but the hidden files a file manager leaves in any folder it shows.
    const QSet<QString> expected{DataRoot::editSessionFileName(), working.fileName()};
    QSet<QString> names = entryNames(context_.list(context_.url(folder)));
    names.removeIf([](const QString& name) { return DataRoot::isHiddenName(name); });
    for (const QString& name : names) {
        if (!expected.contains(name))
            throw UnexpectedEntryError(folder, name);
    }
    if (names != expected)
        throw StoreError::recoveryRequired();

    const FileInfo first = context_.files->inspect(working);
    if (!isRegularNonLink(first) || first.byteCount < 0 || first.byteCount > context_.budget.maxFileBytes)
        throw StoreError::invalidPath();

    if (material->activeVersionID == session.baseVersionID)
        return {here, pending}; // Never saved, or cancelled.
    if (material->status == MaterialStatus::needsReview)
        return {here, pending}; // A save the journal replay completed: to be reviewed and resumed.
    const QUrl journalURL = context_.url(DataRoot::journalPath(sessionID));
    if (!context_.exists(journalURL))
        return {here, pending}; // The active version moved for another reason.

    const StoreJournal journal = context_.readRecord<StoreJournal>(journalURL);
    if (journal.id != sessionID)
        throw StoreError::recoveryRequired();

    // Does the journal describe this session's save as the snapshot holds it?
    const MaterialRecord& record = journal.record;
    if (record.id != material->id || !journal.baseVersionID || *journal.baseVersionID != session.baseVersionID
        || record.originalVersionID != material->originalVersionID)
        return {here, pending};
    const MaterialVersion* saved = record.findVersion(record.activeVersionID);
    if (!saved || saved->kind != session.kind || base + 1 >= material->versions.size()
        || !(material->versions[base + 1] == *saved))
        return {here, pending};

    // Another program may be writing the working file still.
    const QString workingDigest = context_.content.digestOfUnchanged(working, first);
    if (first.byteCount != saved->byteCount || workingDigest != saved->sha256)
        return {here, pending}; // The working file holds something else than the saved version.

    const QUrl payload = context_.url(saved->relativePath);
    if (!context_.exists(payload)) {
        if (material->status == MaterialStatus::trashed)
            return {here, completed};
        throw StoreError::recoveryRequired();
    }
    const FileInfo before = context_.files->inspect(payload);
    if (!isRegularNonLink(before) || before.byteCount != first.byteCount)
        throw StoreError::recoveryRequired();
    if (ContentStore::digest(context_.files->read(payload)) != saved->sha256)
        throw StoreError::recoveryRequired();
    const FileInfo after = context_.files->inspect(payload);
    if (!isRegularNonLink(after) || after.byteCount != first.byteCount
        || after.modificationDate != before.modificationDate)
        throw StoreError::recoveryRequired();
    return {here, completed};
}

QSet<QUuid> EditSessions::editSessionsWithChanges(const QList<EditSession>& sessions)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    QSet<QUuid> changed;
    for (const EditSession& session : sessions) {
        bool holdsBase = false;
        try {
            holdsBase = holdsBaseVersion(session, snapshot);
        } catch (...) {
            // Unreadable now, but it may hold work.
        }
        if (!holdsBase)
            changed.insert(session.id);
    }
    return changed;
}

bool EditSessions::holdsBaseVersion(const EditSession& session, const WorkspaceSnapshot& snapshot)
{
    const MaterialRecord* material = snapshot.findMaterial(session.materialID);
    const MaterialVersion* base = material ? material->findVersion(session.baseVersionID) : nullptr;
    if (!base)
        return false;
    const QUrl working = ownedWorkingURL(session, StoreError::invalidEdit());
    const FileInfo info = context_.files->inspect(working);
    // Most edits change the size: the digest is read only when it does not tell.
    if (!isRegularNonLink(info) || info.byteCount != base->byteCount)
        return false;
    return context_.content.digestOf(context_.content.openSource(working), info.byteCount) == base->sha256;
}

EditSession EditSessions::checkStoredSession(const EditSession& session)
{
    const QUrl url = context_.url(DataRoot::editSessionPath(session.id));
    const EditSession stored = context_.readRecord<EditSession>(url, StoreError::invalidEdit());
    if (stored == session)
        return stored;
    // Handed out as this library names it, the session differs from a record
    // made where the library lay before.
    if (!(sessionHere(stored, ownedWorkingURL(stored, StoreError::invalidEdit())) == session))
        throw StoreError::invalidEdit();
    return stored;
}

QUrl EditSessions::ownedWorkingURL(const EditSession& session, const StoreError& mismatch) const
{
    const QString name = lastPathComponent(session.workingURL.path(QUrl::FullyDecoded));
    // The record and the work are never one file.
    if (name == DataRoot::editSessionFileName())
        throw mismatch;
    const QUrl owned = context_.url(DataRoot::entry(DataRoot::draftFolder(session.id), name));
    if (!sameFile(session.workingURL, owned) && !madeElsewhere(session.workingURL, session.id, name))
        throw mismatch;
    return owned;
}

EditSession EditSessions::sessionHere(const EditSession& session, const QUrl& owned) const
{
    if (sameFile(session.workingURL, owned))
        return session;
    EditSession here = session;
    here.workingURL = owned;
    return here;
}

bool EditSessions::madeElsewhere(const QUrl& given, const QUuid& sessionID, const QString& name)
{
    if (!isPlainLocalFile(given))
        return false;
    // Only the name the store gives a working file, in this session's own
    // folder: a record naming another session's folder or another file stays refused.
    if (name != DataRoot::workingFileName(pathExtension(name).toString()))
        return false;
    const QString path = OwnedPaths::standardized(given.toLocalFile());
    const QString tail = u'/' + DataRoot::entry(DataRoot::draftFolder(sessionID), name);
    return path.startsWith(u'/') && path.size() > tail.size() && path.endsWith(tail);
}

bool EditSessions::sameFile(const QUrl& given, const QUrl& owned) const
{
    if (!isPlainLocalFile(given))
        return false;
    const QString path = OwnedPaths::standardized(given.toLocalFile());
    const QString ownedPath = OwnedPaths::standardized(owned.toLocalFile());
    if (path == ownedPath)
        return true;
    // The same file spelled through the root's anchor (the root's parent
    // with its links resolved) is the same file.
    const QString rootPath = OwnedPaths::standardized(context_.paths.root().toLocalFile());
    const QString anchorPath = OwnedPaths::standardized(context_.paths.anchor().toLocalFile());
    return ownedPath.startsWith(rootPath + u'/') && path == anchorPath + ownedPath.mid(rootPath.size());
}

} // namespace tolvex
