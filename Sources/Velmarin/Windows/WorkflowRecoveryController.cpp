#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UnexpectedEntryError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Texts/MessageKey.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Windows/RecoveryLists.h"
#include "Velmarin/Windows/ReviewUnavailableError.h"

#include <QCoro/QCoroFuture>
#include <QFileDialog>
#include <QScrollArea>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <iterator>

namespace tolvex {

using namespace RecoveryLists;

WorkflowRecoveryController::WorkflowRecoveryController(Line& line, MaterialActions& actions, Markup* markup)
    : line_(&line), actions_(actions), markup_(markup ? *markup : Markup::shared()),
      history_(std::make_unique<TakenDownHistory>(line))
{
    const auto reportError = [this](std::exception_ptr error) {
        if (onError)
            onError(error);
    };
    schedule = [](std::chrono::milliseconds delay, std::function<void()> fire) {
        QTimer::singleShot(delay, std::move(fire));
    };
    history_->schedule = [this](std::chrono::milliseconds delay, std::function<void()> fire) {
        if (schedule)
            schedule(delay, std::move(fire));
    };
    history_->onError = reportError;
    exports_ = std::make_unique<RecoveryExport>(line,
        RecoveryExport::Hooks{
            [this]() -> MaterialStore& { return materialStore(); },
            [this] { return held(); },
            [this](QFileDialog& panel) {
                // The modal loop may end the controller: the runner must outlive it.
                const SavePanelRunner run = runSavePanel;
                return run(panel);
            },
            reportError,
        });
    runSavePanel = [](QFileDialog& panel) -> std::optional<QString> {
        if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
            return std::nullopt;
        return panel.selectedFiles().constFirst();
    };
    confirmDiscard = [](Line& line) {
        Alert alert;
        alert.setTitle(text(MessageKey::recoveryDiscardTitle));
        alert.setMessage(text(MessageKey::recoveryDiscardMessage));
        // Keeping the draft is the default answer.
        alert.addButton(text(MessageKey::cancel));
        alert.addButton(text(MessageKey::recoveryDiscard));
        alert.setEscapeButton(0);
        return line.runAlert(alert) == Alert::firstButtonResponse + 1;
    };
    runAlert = [this](Alert& alert) { return line_ ? line_->runAlert(alert) : Alert::cancelResponse; };
    QPointer<WorkflowRecoveryController> self(this);
    snapshotObserver_ = line.snapshot.subscribe([self](const WorkspaceSnapshot& snapshot) {
        if (self)
            self->snapshotChanged(snapshot);
    });
}

WorkflowRecoveryController::~WorkflowRecoveryController()
{
    delete window_.data();
}

bool WorkflowRecoveryController::guardHolds(std::uint64_t epoch) const
{
    return line_ && !line_->isCovered() && line_->privacyEpoch() == epoch;
}

void WorkflowRecoveryController::reportGuarded(std::exception_ptr error, std::uint64_t epoch)
{
    if (guardHolds(epoch) && onError)
        onError(error);
}

std::exception_ptr WorkflowRecoveryController::reviewUnavailable(std::exception_ptr error, const QString& folder) const
{
    auto* store = line_ ? dynamic_cast<MaterialLineStore*>(&line_->store()) : nullptr;
    if (!store)
        return error;
    QString where = folder;
    try {
        std::rethrow_exception(error);
    } catch (const UnexpectedEntryError& stray) {
        where = stray.folder();
    } catch (...) {
    }
    const QUrl root = store->store().root();
    return std::make_exception_ptr(
        ReviewUnavailableError(error, QUrl::fromLocalFile(root.toLocalFile() + u'/' + where)));
}

MaterialStore& WorkflowRecoveryController::materialStore() const
{
    auto* store = line_ ? dynamic_cast<MaterialLineStore*>(&line_->store()) : nullptr;
    if (!store)
        throw StoreError::invalidSource();
    return store->store();
}

void WorkflowRecoveryController::snapshotChanged(const WorkspaceSnapshot& snapshot)
{
    if (!snapshot.privacyHidden) {
        history_->follow(snapshot);
        return;
    }
    if (window_)
        coverAndRelease(window_);
    window_ = nullptr;
    if (QFileDialog* panel = exports_->panel())
        panel->reject();
    history_->cover();
}

QCoro::Task<void> WorkflowRecoveryController::refresh(bool showIfNeeded)
{
    if (!line_)
        co_return;
    // A line over anything but the library's store has nothing left over to settle.
    if (!dynamic_cast<MaterialLineStore*>(&line_->store()))
        co_return;
    const std::uint64_t epoch = line_->privacyEpoch();
    QPointer<WorkflowRecoveryController> self(this);
    QList<StagingRecoveryItem> staging;
    bool unreadable = false;
    try {
        MaterialStore& store = materialStore();
        auto reviewing = store.reviewEditSessions();
        const EditSessionReview review = co_await std::move(reviewing);
        unreadable = !review.unreadable.isEmpty();
        auto drafts = store.pendingNoteDrafts();
        co_await std::move(drafts);
        auto inventory = stagingBeside(store, unreadable);
        staging = co_await std::move(inventory);
    } catch (...) {
        if (self)
            self->reportGuarded(std::current_exception(), epoch);
        co_return;
    }
    if (!self || !line_ || !showIfNeeded)
        co_return;
    const QList<MaterialRecord>& materials = line_->snapshot->materials;
    // A session folder that cannot be read needs the user as much: the
    // window lists it, to be copied out or discarded.
    const bool needed = unreadable || !staging.isEmpty()
        || std::any_of(materials.begin(), materials.end(),
            [](const MaterialRecord& record) { return record.status == MaterialStatus::needsReview; });
    if (needed) {
        auto showing = show(epoch);
        co_await std::move(showing);
    }
}

QCoro::Task<QList<StagingRecoveryItem>> WorkflowRecoveryController::stagingBeside(
    MaterialStore& store, bool unreadableSessions)
{
    try {
        auto inventory = awaitResult(store.stagingRecoveryInventory());
        co_return co_await std::move(inventory);
    } catch (...) {
        // An unreadable session fails the inventory too: the window lists
        // it, to be settled before the staging files can be.
        if (!unreadableSessions)
            throw;
    }
    co_return {};
}

QCoro::Task<void> WorkflowRecoveryController::show(std::optional<std::uint64_t> privacyEpoch)
{
    if (!line_)
        co_return;
    const std::uint64_t epoch = privacyEpoch.value_or(line_->privacyEpoch());
    if (!guardHolds(epoch))
        co_return;
    QPointer<WorkflowRecoveryController> self(this);
    EditSessionReview review;
    QList<SessionFile> files;
    QSet<QUuid> marked;
    QList<NoteDraft> drafts;
    QList<StagingRecoveryItem> staging;
    // Where in the library a failure lies, for the alert that names it.
    QString folder = DataRoot::draftsFolder();
    try {
        MaterialStore& store = materialStore();
        // A session folder that cannot be read is listed as such, so that the
        // window opens whatever the library holds.
        auto reviewing = store.reviewEditSessions();
        review = co_await std::move(reviewing);
        // A markup draft holds marks exactly when its working file is no
        // longer the copy of the version it builds on.
        QList<EditSession> markups;
        std::copy_if(review.pending.begin(), review.pending.end(), std::back_inserter(markups),
            [](const EditSession& session) { return session.kind == VersionKind::markup; });
        auto comparing = store.editSessionsWithChanges(markups);
        marked = co_await std::move(comparing);
        auto loadingDrafts = store.pendingNoteDrafts();
        drafts = co_await std::move(loadingDrafts);
        if (!self || !line_ || line_->isCovered())
            co_return;
        folder = DataRoot::transactionsFolder();
        auto inventory = stagingBeside(store, !review.unreadable.isEmpty());
        staging = co_await std::move(inventory);
        auto checking = awaitResult(
            QtConcurrent::run(QThreadPool::globalInstance(), RecoveryContent::inspect, review.pending));
        files = co_await std::move(checking);
    } catch (...) {
        if (self)
            self->reportGuarded(self->reviewUnavailable(std::current_exception(), folder), epoch);
        co_return;
    }
    if (!self || !guardHolds(epoch))
        co_return;
    QWidget* content = RecoveryContent::build(line_->snapshot(), line_->isCovered(),
        {review.pending, files, marked, review.unreadable, drafts, staging}, held(), rowActions(epoch));
    if (window_) {
        window_->close();
        window_->deleteLater();
    }
    QWidget* window = makeWindow(text(MessageKey::reviewPendingTitle));
    setContent(window, scrollAround(content));
    present(window);
    window_ = window;
}

RecoveryContent::Actions WorkflowRecoveryController::rowActions(std::uint64_t epoch)
{
    const QPointer<WorkflowRecoveryController> self(this);
    RecoveryContent::Actions actions;
    actions.live = [self, epoch] { return self && self->guardHolds(epoch); };
    actions.open = [self, epoch](QUuid id) {
        launchTask(self->actions_.open(id), [self, epoch](std::exception_ptr error) {
            if (self)
                self->reportGuarded(error, epoch);
        });
    };
    actions.hangReviewed = [self, epoch](QUuid id) { launchTask(self->hangReviewed(id, epoch), {}); };
    actions.resume = [self](const EditSession& session) { self->resume(session); };
    actions.exportSession = [self](const EditSession& session) {
        launchTask(self->exports_->exportSession(session), {});
    };
    actions.exportUnreadable = [self](const EditSessionReview::Unreadable& draft) {
        if (draft.workingFile)
            launchTask(self->exports_->exportWorkingFile(*draft.workingFile, draft.materialID), {});
    };
    actions.resumeNote = [self](const NoteDraft& draft) {
        if (!self->raiseHolder(draft.id))
            self->onResumeNote(draft);
    };
    actions.discard = [self, epoch](QUuid id, bool note) { launchTask(self->discard(id, note, epoch), {}); };
    actions.exportStaging = [self](const QString& relativePath) {
        launchTask(self->exports_->exportStaging(relativePath), {});
    };
    actions.previewCleanup = [self] {
        if (self->onPreviewCleanup)
            self->onPreviewCleanup();
    };
    return actions;
}

QSet<QUuid> WorkflowRecoveryController::held() const
{
    QSet<QUuid> ids = heldDrafts ? heldDrafts() : QSet<QUuid>();
    if (markup_.session())
        ids.insert(markup_.session()->id);
    return ids;
}

bool WorkflowRecoveryController::raiseHolder(const QUuid& id)
{
    if (markup_.session() && markup_.session()->id == id)
        return markup_.bringEditorForward();
    return held().contains(id) && raiseHeld && raiseHeld(id);
}

void WorkflowRecoveryController::refuseHeld(const QUuid& id)
{
    Alert alert;
    alert.setTitle(text(MessageKey::recoveryHeldDraft));
    alert.setMessage(text(MessageKey::recoveryHeldDraftMessage));
    alert.addButton(text(MessageKey::resumeDraft));
    alert.addButton(text(MessageKey::cancel));
    // The alert may end the controller: the runner must outlive it.
    const QPointer<WorkflowRecoveryController> self(this);
    const std::function<int(Alert&)> run = runAlert;
    if (run && run(alert) == Alert::firstButtonResponse && self)
        raiseHolder(id);
}

QCoro::Task<void> WorkflowRecoveryController::discard(QUuid id, bool note, std::uint64_t epoch)
{
    if (!guardHolds(epoch))
        co_return;
    QPointer<WorkflowRecoveryController> self(this);
    bool attempted = false;
    try {
        // An open window's work is for that window to end; asked again once
        // answered, as a window may have opened it meanwhile.
        if (held().contains(id)) {
            refuseHeld(id);
            co_return;
        }
        // The question may end the controller: the asker must outlive it.
        const std::function<bool(Line&)> confirm = confirmDiscard;
        if (!confirm || !confirm(*line_) || !self || !guardHolds(epoch))
            co_return;
        if (held().contains(id)) {
            refuseHeld(id);
            co_return;
        }
        MaterialStore& store = materialStore();
        attempted = true;
        auto discarding = awaitResult(note ? store.discardNoteDraft(id) : store.discardEditSession(id));
        co_await std::move(discarding);
    } catch (...) {
        if (self)
            self->reportGuarded(std::current_exception(), epoch);
    }
    // Gone or not, the window shows what the store now lists.
    if (self && attempted) {
        auto showing = show(epoch);
        co_await std::move(showing);
    }
}

void WorkflowRecoveryController::resume(const EditSession& session)
{
    if (!line_ || raiseHolder(session.id))
        return;
    if (session.kind == VersionKind::textEdit)
        onResumeText(session);
    else
        launchTask(recoverMarkup(session, line_->privacyEpoch()), {});
}

QCoro::Task<void> WorkflowRecoveryController::hangReviewed(QUuid id, std::uint64_t epoch)
{
    if (!guardHolds(epoch))
        co_return;
    auto settling = settleThenShow(
        [this, id] { return line_->store().apply(MaterialCommand::hang(id), Line::maxItems); }, epoch);
    co_await std::move(settling);
}

QCoro::Task<void> WorkflowRecoveryController::settleThenShow(
    std::function<QFuture<WorkspaceSnapshot>()> change, std::uint64_t epoch)
{
    QPointer<WorkflowRecoveryController> self(this);
    try {
        auto changing = change();
        WorkspaceSnapshot snapshot = co_await std::move(changing);
        if (!self || !guardHolds(epoch))
            co_return;
        auto rendering = line_->render(std::move(snapshot));
        co_await std::move(rendering);
        if (!self)
            co_return;
        auto showing = show(epoch);
        co_await std::move(showing);
    } catch (...) {
        if (self)
            self->reportGuarded(std::current_exception(), epoch);
    }
}

QCoro::Task<EditSession> WorkflowRecoveryController::prepareMarkupRecovery(EditSession session)
{
    const std::uint64_t epoch = line_ ? line_->privacyEpoch() : 0;
    if (!guardHolds(epoch) || session.kind != VersionKind::markup)
        throw StoreError::invalidEdit();
    QPointer<WorkflowRecoveryController> self(this);
    auto resuming = materialStore().resumeEditingSession(session);
    EditSession resumed = co_await std::move(resuming);
    if (!self || !guardHolds(epoch))
        throw StoreError::invalidEdit();
    co_return resumed;
}

QCoro::Task<void> WorkflowRecoveryController::recoverMarkup(EditSession session, std::uint64_t epoch)
{
    QPointer<WorkflowRecoveryController> self(this);
    EditSession resumed;
    try {
        auto preparing = prepareMarkupRecovery(std::move(session));
        resumed = co_await std::move(preparing);
    } catch (...) {
        if (self)
            self->reportGuarded(std::current_exception(), epoch);
        co_return;
    }
    if (!self || !guardHolds(epoch))
        co_return;
    // The one markup editor is busy with another image: said so, rather than
    // refused in silence.
    if (markup_.session() && markup_.session()->id != resumed.id) {
        reportGuarded(std::make_exception_ptr(StoreError::operationInProgress()), epoch);
        co_return;
    }
    markup_.edit(resumed, materialStore(), [self, resumed, epoch](EditResult result) {
        if (self)
            launchTask(self->finishMarkup(resumed, std::move(result), epoch), {});
    });
}

QCoro::Task<void> WorkflowRecoveryController::finishMarkup(EditSession session, EditResult result, std::uint64_t epoch)
{
    // The edit's end is written whatever the cover: it is the user's work.
    auto settling = settleThenShow(
        [this, session, result] { return materialStore().finishEditing(session, result); }, epoch);
    co_await std::move(settling);
}

} // namespace tolvex
