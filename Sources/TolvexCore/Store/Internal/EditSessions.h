#pragma once

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Content/StagedContent.h"
#include "TolvexCore/Model/EditResult.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/CancellationError.h"
#include "TolvexCore/Store/EditSessionReview.h"
#include "TolvexCore/Store/Internal/EditSessionDisposition.h"
#include "TolvexCore/Model/StoreError.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QUrl>
#include <QUuid>

#include <utility>
#include <variant>

namespace tolvex {

class StoreContext;

// Edits of a material as new immutable versions. A stored payload is never
// edited in place: a session copies the active payload into a working file
// of its own ("Drafts/<id>/working.<ext>", described by "Drafts/<id>/session.json"),
// the editor rewrites that file, and a save commits it as a new version
// through the same journalled commit the import uses, with the journal named
// by the session id. A cancelled or interrupted session stays and can be
// resumed; a saved one stays until the storage cleanup takes its folder. Only
// a session whose editor kept nothing, and whose working file still holds its
// base version, is given up at its cancel.
//
// A record keeps the absolute URL of its working file, so a library that was
// copied or moved holds records naming the place it was made in. Such a
// record, naming "Drafts/<its id>/working.<ext>" below another folder, is
// this library's: every member works on the folder's own file, never at the
// old place, and hands the session out as this library names it.
//
// Every member runs on the store's actor; the callers apply the busy rule.
class EditSessions {
public:
    explicit EditSessions(StoreContext& context) : context_(context) {}

    // A new session on the material's active version. invalidEdit for an
    // unknown or trashed material and a kind that does not fit the material;
    // sourceChanged when the copy is not the active version's content.
    EditSession createDerivedVersion(const QUuid& materialID, VersionKind kind);

    // Replaces the working file's bytes. Nothing else changes.
    void writeEditingResult(const EditSession& session, const QByteArray& data);

    // finishEditing in the three steps of a suspending store operation:
    // checks on the actor, staging of the working file off it, and the
    // journalled commit back on it.
    struct FinishPlan {
        EditSession session;
        // The owned working path.
        QUrl workingURL;
        WorkspaceSnapshot snapshot;
        ContentStore content;
        CancellationToken cancellation;
        // The largest working file the budget takes: another program may be
        // writing it still, and it is read no further than this.
        std::int64_t maximumBytes = 0;
    };
    // A cancel ends here with the loaded snapshot, unchanged; one whose
    // editor kept nothing first moves an untouched session to the Trash.
    std::variant<WorkspaceSnapshot, FinishPlan> prepareFinish(
        const EditSession& session, const EditResult& result, const CancellationToken& cancellation);
    // Runs off the actor; touches no store state.
    static StagedContent stageWorkingFile(const FinishPlan& plan);
    // The saved snapshot, whose material has the new version as its active one.
    WorkspaceSnapshot completeFinish(const FinishPlan& plan, const StagedContent& staged);

    // The session, moved onto the material's active version when that has
    // moved on since the session began; the working file is kept.
    EditSession resumeEditingSession(const EditSession& session);

    // Sessions that can still be resumed and saved, by ascending id text.
    QList<EditSession> pendingEditSessions();
    // The same sessions, and beside them the session folders that cannot be
    // read, where the listing above fails on the first of those.
    EditSessionReview reviewEditSessions();

    // The ids of those sessions whose working file holds something else than
    // their base version (or cannot be read, and so may hold work).
    QSet<QUuid> editSessionsWithChanges(const QList<EditSession>& sessions);

    // The stored session with this id and whether it is pending or completed,
    // judged against `snapshot` (nothing is loaded). recoveryRequired for a
    // session folder that is not sound; invalidPath for a bad working file;
    // sourceChanged when the working file changes while it is read.
    std::pair<EditSession, EditSessionDisposition> editSessionDisposition(
        const QUuid& sessionID, const WorkspaceSnapshot& snapshot);

private:
    // Whether the working file holds exactly the base version's content: its
    // size first, then its digest. Errors pass through.
    bool holdsBaseVersion(const EditSession& session, const WorkspaceSnapshot& snapshot);
    // Pending and unreadable sessions; with `tolerant` false the first
    // folder that cannot be read fails the call instead.
    EditSessionReview listSessions(bool tolerant);
    // What can be told of a session folder whose record cannot be taken.
    EditSessionReview::Unreadable unreadableSession(const QUuid& sessionID, const WorkspaceSnapshot& snapshot);
    // The stored record, which must equal the given session, as stored or as
    // this library names it (invalidEdit).
    EditSession checkStoredSession(const EditSession& session);
    // "Drafts/<id>/" + the last component of workingURL, guarded; `mismatch`
    // is thrown unless workingURL names that file, here or where the library
    // was made.
    QUrl ownedWorkingURL(const EditSession& session, const StoreError& mismatch) const;
    // The session as this library names it: with `owned`, its owned working
    // path, in place of a workingURL that names the place it was made in.
    EditSession sessionHere(const EditSession& session, const QUrl& owned) const;
    // Whether a URL handed in names the owned file: as the root spells it, or
    // through the root's anchor.
    bool sameFile(const QUrl& given, const QUrl& owned) const;
    // Whether a URL names this session's own working file below another
    // folder than this library: the record of a library copied or moved.
    static bool madeElsewhere(const QUrl& given, const QUuid& sessionID, const QString& name);

    StoreContext& context_;
};

} // namespace tolvex
