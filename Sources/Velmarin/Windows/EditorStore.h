#pragma once

#include "TolvexCore/Model/EditResult.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace tolvex {

class MaterialStore;

// The store calls of the editors and the detail window. The program passes
// the one MaterialStore through MaterialEditorStore; a test may put a double
// in front of it to decide when a write completes.
class EditorStore {
public:
    virtual ~EditorStore() = default;

    virtual QFuture<QUrl> payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID) = 0;

    virtual QFuture<EditSession> createDerivedVersion(const QUuid& materialID, VersionKind kind) = 0;
    virtual QFuture<void> writeEditingResult(const EditSession& session, const QByteArray& data) = 0;
    virtual QFuture<WorkspaceSnapshot> finishEditing(const EditSession& session, const EditResult& result) = 0;
    virtual QFuture<EditSession> resumeEditingSession(const EditSession& session) = 0;
    virtual QFuture<QList<EditSession>> pendingEditSessions() = 0;

    virtual QFuture<NoteDraft> createNoteDraft(const std::optional<QUuid>& materialID) = 0;
    virtual QFuture<NoteDraft> updateNoteDraft(const QUuid& draftID, const QString& text) = 0;
    virtual QFuture<QList<NoteDraft>> pendingNoteDrafts() = 0;
    virtual QFuture<WorkspaceSnapshot> publishNoteDraft(const QUuid& draftID, std::int64_t visibleCapacity) = 0;
};

// Forwards every call to the store. Without one (a shell run over a line
// that has no MaterialStore behind it) every call fails with invalidSource.
class MaterialEditorStore final : public EditorStore {
public:
    explicit MaterialEditorStore(MaterialStore* store) : store_(store) {}

    QFuture<QUrl> payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID) override;
    QFuture<EditSession> createDerivedVersion(const QUuid& materialID, VersionKind kind) override;
    QFuture<void> writeEditingResult(const EditSession& session, const QByteArray& data) override;
    QFuture<WorkspaceSnapshot> finishEditing(const EditSession& session, const EditResult& result) override;
    QFuture<EditSession> resumeEditingSession(const EditSession& session) override;
    QFuture<QList<EditSession>> pendingEditSessions() override;
    QFuture<NoteDraft> createNoteDraft(const std::optional<QUuid>& materialID) override;
    QFuture<NoteDraft> updateNoteDraft(const QUuid& draftID, const QString& text) override;
    QFuture<QList<NoteDraft>> pendingNoteDrafts() override;
    QFuture<WorkspaceSnapshot> publishNoteDraft(const QUuid& draftID, std::int64_t visibleCapacity) override;

private:
    MaterialStore* store_;
};

} // namespace tolvex
