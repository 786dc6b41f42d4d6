#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/EditSessionReview.h"
#include "TolvexCore/Store/StagingRecoveryItem.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

class QWidget;

namespace tolvex {

// The recovery window's content under its help text: a row for each
// material to review, each pending edit session and note draft, and each
// staging file, with its caption and its buttons. The controller lists them
// from the store and says what the buttons do.
namespace RecoveryContent {

// What a worker found of a pending session's working file: whether its
// editor can open it, and when it was last written.
struct SessionFile {
    bool opens = false;
    std::optional<Date> written;
};

// Whether each session's editor can open its working file (a text within
// the text editor's bound, an image the program admits), and when it was
// last written. On a worker thread.
QList<SessionFile> inspect(const QList<EditSession>& sessions);

// What the store listed.
struct Listed {
    QList<EditSession> sessions;
    // One for each session, in the same order.
    QList<SessionFile> files;
    // The markup sessions whose working file holds marks.
    QSet<QUuid> marked;
    // Session folders the store cannot read: copied out or discarded only.
    QList<EditSessionReview::Unreadable> unreadable;
    QList<NoteDraft> drafts;
    QList<StagingRecoveryItem> staging;
};

// What the buttons do. A click runs its action only while `live` answers
// true, which it must not once the actions' owner is gone.
struct Actions {
    std::function<bool()> live;
    std::function<void(QUuid)> open;
    std::function<void(QUuid)> hangReviewed;
    // A session whose editor can open its working file, or that a window holds.
    std::function<void(const EditSession&)> resume;
    // A session whose editor cannot open its working file.
    std::function<void(const EditSession&)> exportSession;
    // The working file of a session folder the store cannot read.
    std::function<void(const EditSessionReview::Unreadable&)> exportUnreadable;
    std::function<void(const NoteDraft&)> resumeNote;
    std::function<void(QUuid id, bool note)> discard;
    // An unowned staging file.
    std::function<void(const QString& relativePath)> exportStaging;
    std::function<void()> previewCleanup;
};

// The materials to review come from `snapshot`. A session or draft in
// `held` is one that an open window holds, and its row says so. While
// `covered`, no title of the library shows and the staging files are left out.
QWidget* build(const WorkspaceSnapshot& snapshot, bool covered, const Listed& listed, const QSet<QUuid>& held,
    const Actions& actions);

} // namespace RecoveryContent

} // namespace tolvex
