#include "Velmarin/Windows/EditorStore.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/MaterialStore.h"

namespace tolvex {

namespace {

template <typename T>
QFuture<T> refused()
{
    return QtFuture::makeExceptionalFuture<T>(StoreError::invalidSource());
}

} // namespace

#define TOLVEX_FORWARD(Type, call) return store_ ? store_->call : refused<Type>()

QFuture<QUrl> MaterialEditorStore::payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID)
{
    TOLVEX_FORWARD(QUrl, payloadURL(materialID, versionID));
}

QFuture<EditSession> MaterialEditorStore::createDerivedVersion(const QUuid& materialID, VersionKind kind)
{
    TOLVEX_FORWARD(EditSession, createDerivedVersion(materialID, kind));
}

QFuture<void> MaterialEditorStore::writeEditingResult(const EditSession& session, const QByteArray& data)
{
    TOLVEX_FORWARD(void, writeEditingResult(session, data));
}

QFuture<WorkspaceSnapshot> MaterialEditorStore::finishEditing(const EditSession& session, const EditResult& result)
{
    TOLVEX_FORWARD(WorkspaceSnapshot, finishEditing(session, result));
}

QFuture<EditSession> MaterialEditorStore::resumeEditingSession(const EditSession& session)
{
    TOLVEX_FORWARD(EditSession, resumeEditingSession(session));
}

QFuture<QList<EditSession>> MaterialEditorStore::pendingEditSessions()
{
    TOLVEX_FORWARD(QList<EditSession>, pendingEditSessions());
}

QFuture<NoteDraft> MaterialEditorStore::createNoteDraft(const std::optional<QUuid>& materialID)
{
    TOLVEX_FORWARD(NoteDraft, createNoteDraft(materialID));
}

QFuture<NoteDraft> MaterialEditorStore::updateNoteDraft(const QUuid& draftID, const QString& text)
{
    TOLVEX_FORWARD(NoteDraft, updateNoteDraft(draftID, text));
}

QFuture<QList<NoteDraft>> MaterialEditorStore::pendingNoteDrafts()
{
    TOLVEX_FORWARD(QList<NoteDraft>, pendingNoteDrafts());
}

QFuture<WorkspaceSnapshot> MaterialEditorStore::publishNoteDraft(const QUuid& draftID, std::int64_t visibleCapacity)
{
    TOLVEX_FORWARD(WorkspaceSnapshot, publishNoteDraft(draftID, visibleCapacity));
}

#undef TOLVEX_FORWARD

} // namespace tolvex
