#pragma once

#include <QString>
#include <QUuid>

namespace tolvex {

class StoreContext;

// Gives up one edit session or note draft the user no longer wants: its
// whole folder "Drafts/<id>" goes to the system Trash through the file
// layer, in one move, so that it is either still in place or gone entirely;
// the program deletes nothing itself. A discarded note draft no longer
// protects its material. The journal of a session's save, if any, stays.
//
// The callers have tested `busy`.
class DraftDiscard {
public:
    explicit DraftDiscard(StoreContext& context) : context_(context) {}

    // notFound unless "Drafts/<id>/session.json" is there.
    void discardEditSession(const QUuid& sessionID);
    // notFound unless "Drafts/<id>/note.json" is there.
    void discardNoteDraft(const QUuid& draftID);

private:
    // Moves the folder of `id` to the Trash when `record` (its record file)
    // is a regular file there.
    void discard(const QUuid& id, const QString& record);

    StoreContext& context_;
};

} // namespace tolvex
