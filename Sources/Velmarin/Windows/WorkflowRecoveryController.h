#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/EditResult.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/StagingRecoveryItem.h"
#include "Velmarin/Common/Published.h"
#include "Velmarin/Windows/HeldDrafts.h"
#include "Velmarin/Windows/RecoveryContent.h"
#include "Velmarin/Windows/RecoveryExport.h"
#include "Velmarin/Windows/TakenDownHistory.h"

#include <QCoro/QCoroTask>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUuid>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

#include <QFileDialog>
#include <QWidget>

#include <memory>

namespace tolvex {

class Alert;
class Line;
class Markup;
class MaterialActions;
class MaterialStore;

// The recovery window (materials to review, pending edits and note drafts,
// each of which can be discarded, staging files; its rows are
// RecoveryContent's, its copies out RecoveryExport's), and through its
// TakenDownHistory the taken-down history with its rehang buttons and the
// 8-second undo of a take-down. A privacy cover orders both windows out and
// forgets them, ends a running export dialog and drops the undo: nothing of
// the library may stay on screen or be brought back by a stale click.
// Results of guarded work count only while the line is shown and its
// privacy epoch has not moved since the work began. GUI thread.
class WorkflowRecoveryController final : public QObject {
public:
    static constexpr double undoSeconds = TakenDownHistory::undoSeconds;
    static constexpr int titleLimit = TakenDownHistory::titleLimit;

    // Runs `fire` after `delay`; tests replace it to fire by hand.
    using Scheduler = TakenDownHistory::Scheduler;
    // Runs a save dialog; returns the chosen path, or nothing when cancelled.
    using SavePanelRunner = RecoveryExport::SavePanelRunner;
    using SessionFile = RecoveryContent::SessionFile;

    // The line's store must be the program's MaterialStore for anything but
    // the undo bookkeeping. Without a markup session the shared one is used.
    WorkflowRecoveryController(Line& line, MaterialActions& actions, Markup* markup = nullptr);
    ~WorkflowRecoveryController() override;

    std::function<void(std::exception_ptr)> onError = [](std::exception_ptr) {};
    std::function<void(const EditSession&)> onResumeText = [](const EditSession&) {};
    std::function<void(const NoteDraft&)> onResumeNote = [](const NoteDraft&) {};
    // The staging list's preview button: the storage page and its cleanup preview.
    std::function<void()> onPreviewCleanup = [] {};
    Scheduler schedule;
    SavePanelRunner runSavePanel;
    // What the program's other windows hold; the markup's own session is
    // held whatever this answers.
    HeldDrafts::Source heldDrafts;
    // Brings the window holding a session or draft to the front; the
    // markup's own session is brought forward whatever this does.
    HeldDrafts::Raiser raiseHeld;
    // Asks whether to discard a session or draft; the default runs an alert
    // registered with the line, so that a cover ends it unanswered.
    std::function<bool(Line&)> confirmDiscard;
    // Runs the other alerts of the window; the default runs them through the line.
    std::function<int(Alert&)> runAlert;

    // Opens the window only for staging files, a material needing review
    // in any group, or a session folder the store cannot read; pending
    // sessions and drafts alone wait for the user to ask.
    QCoro::Task<void> refresh(bool showIfNeeded);
    // Without an epoch the current one is used (a menu or an alert asked).
    // Session folders the store cannot read are listed, to be copied out or
    // discarded; anything else that stops the window is reported as a
    // ReviewUnavailableError.
    QCoro::Task<void> show(std::optional<std::uint64_t> privacyEpoch);
    QCoro::Task<void> showTakenDown() { return history_->show(); }
    // What a session row's button does: a session an open window holds
    // brings that window to the front; otherwise a text edit goes to the text
    // editor, anything else is resumed as a markup, which only a markup may be.
    void resume(const EditSession& session);
    // Hangs one taken-down or archived material again; anything else is
    // skipped. Throws the store's error.
    QCoro::Task<void> rehang(QUuid id) { return history_->rehang(id); }

    // Arms the undo for the cards just taken down; nothing while the line is
    // covered or when no card went down.
    void noteTakenDown(const QList<QUuid>& ids, Date at) { history_->noteTakenDown(ids, at); }
    bool canUndoTakeDown(Date at) const { return history_->canUndoTakeDown(at); }
    // Hangs the cards of the latest take-down again, in one render. A
    // failure keeps the failed ids for a retry. Throws. Past the deadline it
    // says that the undo has expired.
    QCoro::Task<void> undoTakeDown(Date at) { return history_->undoTakeDown(at); }

    // The taken-down materials of the snapshot's selected group, by order,
    // then creation, then id text; none while covered.
    static QList<MaterialRecord> takenDownRecords(const WorkspaceSnapshot& snapshot)
    {
        return TakenDownHistory::records(snapshot);
    }

    const QList<QUuid>& takenDownIDs() const { return history_->undoIDs(); }
    QWidget* recoveryWindow() const { return window_; }
    QWidget* takenDownWindow() const { return history_->window(); }
    QFileDialog* exportPanel() const { return exports_->panel(); }

private:
    bool guardHolds(std::uint64_t epoch) const;
    void reportGuarded(std::exception_ptr error, std::uint64_t epoch);
    // A failure to build the window, as the ReviewUnavailableError that names
    // the folder of the library it lies in (`folder`, relative to the data
    // root, unless the error names its own).
    std::exception_ptr reviewUnavailable(std::exception_ptr error, const QString& folder) const;
    MaterialStore& materialStore() const;
    // The staging inventory; none, rather than its failure, beside session
    // folders that cannot be read, which fail it too.
    static QCoro::Task<QList<StagingRecoveryItem>> stagingBeside(MaterialStore& store, bool unreadableSessions);
    void snapshotChanged(const WorkspaceSnapshot& snapshot);
    // What the window's buttons do; each does nothing once the controller
    // is gone or the line was covered since `epoch`.
    RecoveryContent::Actions rowActions(std::uint64_t epoch);
    QCoro::Task<void> hangReviewed(QUuid id, std::uint64_t epoch);
    // Runs the store change, puts its snapshot on the line and rebuilds the
    // window, while the guard holds; a failure is reported guarded.
    QCoro::Task<void> settleThenShow(std::function<QFuture<WorkspaceSnapshot>()> change, std::uint64_t epoch);
    QCoro::Task<void> recoverMarkup(EditSession session, std::uint64_t epoch);
    QCoro::Task<EditSession> prepareMarkupRecovery(EditSession session);
    QCoro::Task<void> finishMarkup(EditSession session, EditResult result, std::uint64_t epoch);
    QSet<QUuid> held() const;
    // Brings the window holding the session or draft to the front; false
    // when no window holds it.
    bool raiseHolder(const QUuid& id);
    // Says that an open window holds the work, offering to bring it forward.
    void refuseHeld(const QUuid& id);
    // Asks, then moves the session's or note draft's folder to the Trash and
    // rebuilds the window; refused, saying why, while a window holds it.
    QCoro::Task<void> discard(QUuid id, bool note, std::uint64_t epoch);

    QPointer<Line> line_;
    MaterialActions& actions_;
    Markup& markup_;
    QPointer<QWidget> window_;
    std::unique_ptr<RecoveryExport> exports_;
    std::unique_ptr<TakenDownHistory> history_;
    Subscription snapshotObserver_;
};

} // namespace tolvex
