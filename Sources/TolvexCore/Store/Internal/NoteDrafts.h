#pragma once

#include "TolvexCore/Content/StagedContent.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/CancellationError.h"
#include "TolvexCore/Store/Internal/StoreExecutor.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace tolvex {

class ContentStore;
class StoreContext;

// Notes as they are written ("Drafts/<id>/note.json") and their publication
// as text materials whose source is a note: a new material for a new note, a
// new version for a continued one, through the same journalled commit as an
// import. Drafts are never deleted.
class NoteDrafts {
public:
    explicit NoteDrafts(StoreContext& context) : context_(context) {}

    // Callers have tested `busy`.
    NoteDraft createNoteDraft(const std::optional<QUuid>& materialID);
    NoteDraft updateNoteDraft(const QUuid& draftID, const QString& text);
    QList<NoteDraft> pendingNoteDrafts();

    // Every draft, newest change first.
    QList<NoteDraft> noteDrafts();
    NoteDraft readNoteDraft(const QUuid& draftID);
    void saveNoteDraft(const NoteDraft& draft);

    // Drops from the notes being written in this run every material no note
    // draft names any longer (after a draft went to the Trash), so that a
    // discarded draft no longer protects its material. When the drafts
    // cannot be read, the protection stays.
    void forgetMaterialsWithoutDrafts();

    // The title of a note: its first line that holds more than whitespace,
    // trimmed, cut to 80 user-perceived characters.
    static QString title(const QString& text);

    // The publication, in the two halves of a suspending store operation.
    struct PublicationOrder {
        QUuid draftID;
        std::int64_t visibleCapacity = 0;
        CancellationToken cancellation;
    };
    struct Plan {
        PublicationOrder order;
        NoteDraft draft;
        WorkspaceSnapshot loaded;
        // The material the note continues, when it exists.
        std::optional<MaterialRecord> existing;
        QString title;
        std::int64_t byteCount = 0;
        QString sha256;
    };
    using Decision = StoreExecutor::Decision<WorkspaceSnapshot, Plan>;

    // The checks, and the whole republication of unchanged text.
    static Decision preparePublication(StoreContext& context, PublicationOrder order);
    static StagedContent stagePublication(const ContentStore& content, const Plan& plan);
    static WorkspaceSnapshot finishPublication(StoreContext& context, Plan& plan, StagedContent& staged);

private:
    WorkspaceSnapshot republish(const Plan& plan);
    // A draft whose publication reached the workspace while its own save did
    // not still names the old base; see the definition.
    void adoptOwnPublication(NoteDraft& draft, const WorkspaceSnapshot& snapshot);
    bool journalRecords(const QUuid& materialID, const QUuid& versionID, const std::optional<QUuid>& baseVersionID);

    StoreContext& context_;
};

} // namespace tolvex
