#pragma once

#include "Support/DataRootBuilder.h"
#include "Support/EventLoopWait.h"
#include "Support/FaultInjectingFileOperations.h"
#include "Support/MemoryUserDefaults.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Windows/EditorStore.h"

#include <QCoro/QCoroTask>
#include <QLabel>
#include <QPromise>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tolvex::testing {

struct Outcome {
    bool done = false;
    std::optional<StoreError::Code> code;
    std::exception_ptr other;
};

inline QCoro::Task<void> record(QCoro::Task<void> task, Outcome* outcome)
{
    try {
        co_await std::move(task);
    } catch (const StoreError& error) {
        outcome->code = error.code();
    } catch (...) {
        outcome->other = std::current_exception();
    }
    outcome->done = true;
}

// Runs a task to its end on the GUI thread; its StoreError code, or none.
// (QCoro::waitFor never returns for a task that ended before it waits.)
inline std::optional<StoreError::Code> outcome(QCoro::Task<void> task)
{
    Outcome result;
    auto recording = record(std::move(task), &result);
    EXPECT_TRUE(waitUntil([&] { return result.done; }));
    if (result.other)
        std::rethrow_exception(result.other);
    return result.code;
}

// Whether the label shows all of its text in the room it has.
inline bool showsWhole(const QLabel* label)
{
    const int margin = label->margin();
    const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect needed = label->fontMetrics().boundingRect(room, flags, label->text());
    return needed.width() <= room.width() && needed.height() <= room.height();
}

// The real store over a data root in a temporary folder, and the real line
// over it. A second scene over the same folder is a restart.
class EditorScene {
public:
    using Build = std::function<void(DataRootBuilder&)>;

    explicit EditorScene(const Build& build = {}) : EditorScene(std::make_shared<QTemporaryDir>(), build) {}
    EditorScene(std::shared_ptr<QTemporaryDir> folder, const Build& build) : folder_(std::move(folder))
    {
        const QString root = folder_->filePath(QStringLiteral("Tolvex"));
        if (build) {
            DataRootBuilder builder(root);
            build(builder);
            builder.writeState();
        }
        store.emplace(QUrl::fromLocalFile(root), files, StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0});
        lineStore.emplace(*store, std::chrono::nanoseconds(0));
        line.emplace(*lineStore, defaults, [](const QUrl&) -> std::optional<QImage> { return std::nullopt; });
        const std::optional<StoreError::Code> loaded = outcome(line->load());
        EXPECT_EQ(loaded, std::nullopt);
        editorStore.emplace(&*store);
    }
    std::shared_ptr<QTemporaryDir> folder() const { return folder_; }
    WorkspaceSnapshot stored() { return waitForResult(store->load()); }

    void cover() { line->setPrivacyHidden(true); }
    void uncover()
    {
        line->setPrivacyHidden(false);
        const QFuture<void> saving = line->privacyTask();
        waitUntil([&] { return saving.isFinished() && !line->isCovered(); });
    }

private:
    std::shared_ptr<QTemporaryDir> folder_;

public:
    // The real file layer; a test may make it refuse writes for want of room.
    std::shared_ptr<FaultInjectingFileOperations> files
        = std::make_shared<FaultInjectingFileOperations>(std::make_shared<SystemFileOperations>());
    MemoryUserDefaults defaults;
    std::optional<MaterialStore> store;
    std::optional<MaterialLineStore> lineStore;
    std::optional<Line> line;
    std::optional<MaterialEditorStore> editorStore;
};

// Passes every call to the real store, except that draft writes can be held
// until the test releases them, or made to fail.
class HeldDraftStore final : public EditorStore {
public:
    explicit HeldDraftStore(EditorStore& inner) : inner_(inner) {}

    struct Write {
        QUuid draftID;
        QString text;
        QPromise<NoteDraft> promise;
    };

    QFuture<QUrl> payloadURL(const QUuid& id, const std::optional<QUuid>& version) override
    {
        return inner_.payloadURL(id, version);
    }
    QFuture<EditSession> createDerivedVersion(const QUuid& id, VersionKind kind) override
    {
        return inner_.createDerivedVersion(id, kind);
    }
    QFuture<void> writeEditingResult(const EditSession& session, const QByteArray& data) override
    {
        if (busyEditingWrites > 0) {
            --busyEditingWrites;
            return QtFuture::makeExceptionalFuture<void>(StoreError::operationInProgress());
        }
        if (!stallEditingWrites)
            return inner_.writeEditingResult(session, data);
        auto stalled = std::make_shared<QPromise<void>>();
        stalled->start();
        stalledEditingWrites.push_back(stalled);
        return stalled->future();
    }
    QFuture<WorkspaceSnapshot> finishEditing(const EditSession& session, const EditResult& result) override
    {
        return inner_.finishEditing(session, result);
    }
    QFuture<EditSession> resumeEditingSession(const EditSession& session) override
    {
        return inner_.resumeEditingSession(session);
    }
    QFuture<QList<EditSession>> pendingEditSessions() override { return inner_.pendingEditSessions(); }
    QFuture<NoteDraft> createNoteDraft(const std::optional<QUuid>& id) override { return inner_.createNoteDraft(id); }
    QFuture<QList<NoteDraft>> pendingNoteDrafts() override { return inner_.pendingNoteDrafts(); }
    QFuture<WorkspaceSnapshot> publishNoteDraft(const QUuid& id, std::int64_t capacity) override
    {
        return inner_.publishNoteDraft(id, capacity);
    }

    QFuture<NoteDraft> updateNoteDraft(const QUuid& draftID, const QString& text) override
    {
        if (failWrites)
            return QtFuture::makeExceptionalFuture<NoteDraft>(StoreError::unavailableSpace());
        if (!holdWrites)
            return inner_.updateNoteDraft(draftID, text);
        auto write = std::make_shared<Write>(Write{draftID, text, {}});
        write->promise.start();
        held.push_back(write);
        return write->promise.future();
    }

    // Carries out the oldest held write in the real store and answers it.
    void releaseOldest()
    {
        const std::shared_ptr<Write> write = held.front();
        held.pop_front();
        write->promise.addResult(waitForResult(inner_.updateNoteDraft(write->draftID, write->text)));
        write->promise.finish();
    }

    bool holdWrites = false;
    bool failWrites = false;
    std::deque<std::shared_ptr<Write>> held;
    // Writes of an edit session: so many refused as busy, then passed on,
    // or, while stalling, never answered until the test ends them.
    int busyEditingWrites = 0;
    bool stallEditingWrites = false;
    std::vector<std::shared_ptr<QPromise<void>>> stalledEditingWrites;

private:
    EditorStore& inner_;
};

} // namespace tolvex::testing
