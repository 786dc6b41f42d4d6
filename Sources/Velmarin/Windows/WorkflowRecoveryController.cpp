#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/UnicodeText.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Store/StorageCleanupPlan.h"
#include "TolvexCore/Texts/MessageKey.h"
#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Common/ByteCountFormat.h"
#include "Velmarin/Common/ChooserFolders.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Common/TextCut.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Windows/RecoveryLists.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QCoro/QCoroFuture>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QScrollArea>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <iterator>

namespace tolvex {

using namespace RecoveryLists;

namespace {

// Whether each session's editor can open its working file (a text within the
// text editor's bound, an image the program admits), and when it was last
// written. On a worker thread.
QList<WorkflowRecoveryController::SessionFile> inspectSessions(const QList<EditSession>& sessions)
{
    QList<WorkflowRecoveryController::SessionFile> files;
    for (const EditSession& session : sessions) {
        WorkflowRecoveryController::SessionFile file;
        try {
            const FileInfo info = SystemFileOperations::shared()->inspect(session.workingURL);
            if (info.modificationDate != Date::distantPast())
                file.written = info.modificationDate;
            if (session.kind == VersionKind::textEdit) {
                file.opens = info.isRegularFile && info.byteCount <= TextEditorController::maximumTextBytes;
            } else {
                ImageAdmission::validate(session.workingURL);
                file.opens = true;
            }
        } catch (...) {
            file.opens = false;
        }
        files.append(file);
    }
    return files;
}

// A note draft is named by its first line that holds anything, whichever
// newline ends it.
QString firstLine(const QString& text)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !UnicodeText::isNewline(text[i].unicode()))
            continue;
        const QString line = text.mid(start, i - start).trimmed();
        if (!line.isEmpty())
            return line;
        start = i + 1;
    }
    return {};
}

QString stagingLabel(const StagingRecoveryItem& item)
{
    QString label;
    switch (item.disposition) {
    case StagingRecoveryItem::Disposition::unowned:
        label = text(MessageKey::stagingTitle);
        break;
    case StagingRecoveryItem::Disposition::referenced:
        label = text(MessageKey::stagingReferenced);
        break;
    case StagingRecoveryItem::Disposition::needsInspection:
        label = text(MessageKey::stagingInspect);
        break;
    }
    if (item.byteCount)
        label += middleDot() + formatByteCount(*item.byteCount);
    return label;
}

} // namespace

WorkflowRecoveryController::WorkflowRecoveryController(Line& line, MaterialActions& actions, Markup* markup)
    : line_(&line), actions_(actions), markup_(markup ? *markup : Markup::shared()),
      history_(std::make_unique<TakenDownHistory>(line))
{
    schedule = [](std::chrono::milliseconds delay, std::function<void()> fire) {
        QTimer::singleShot(delay, std::move(fire));
    };
    history_->schedule = [this](std::chrono::milliseconds delay, std::function<void()> fire) {
        if (schedule)
            schedule(delay, std::move(fire));
    };
    history_->onError = [this](std::exception_ptr error) {
        if (onError)
            onError(error);
    };
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
    if (exportPanel_)
        exportPanel_->reject();
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
    try {
        MaterialStore& store = materialStore();
        auto sessions = store.pendingEditSessions();
        co_await std::move(sessions);
        auto drafts = store.pendingNoteDrafts();
        co_await std::move(drafts);
        auto inventory = store.stagingRecoveryInventory();
        staging = co_await std::move(inventory);
    } catch (...) {
        if (self)
            self->reportGuarded(std::current_exception(), epoch);
        co_return;
    }
    if (!self || !line_ || !showIfNeeded)
        co_return;
    const QList<MaterialRecord>& materials = line_->snapshot->materials;
    const bool needed = !staging.isEmpty()
        || std::any_of(materials.begin(), materials.end(),
            [](const MaterialRecord& record) { return record.status == MaterialStatus::needsReview; });
    if (needed) {
        auto showing = show(epoch);
        co_await std::move(showing);
    }
}

QCoro::Task<void> WorkflowRecoveryController::show(std::optional<std::uint64_t> privacyEpoch)
{
    if (!line_)
        co_return;
    const std::uint64_t epoch = privacyEpoch.value_or(line_->privacyEpoch());
    if (!guardHolds(epoch))
        co_return;
    QPointer<WorkflowRecoveryController> self(this);
    QList<EditSession> sessions;
    QList<SessionFile> files;
    QSet<QUuid> marked;
    QList<NoteDraft> drafts;
    QList<StagingRecoveryItem> staging;
    try {
        MaterialStore& store = materialStore();
        auto loadingSessions = store.pendingEditSessions();
        sessions = co_await std::move(loadingSessions);
        // A markup draft holds marks exactly when its working file is no
        // longer the copy of the version it builds on.
        QList<EditSession> markups;
        std::copy_if(sessions.begin(), sessions.end(), std::back_inserter(markups),
            [](const EditSession& session) { return session.kind == VersionKind::markup; });
        auto comparing = store.editSessionsWithChanges(markups);
        marked = co_await std::move(comparing);
        auto loadingDrafts = store.pendingNoteDrafts();
        drafts = co_await std::move(loadingDrafts);
        if (!self || !line_ || line_->isCovered())
            co_return;
        auto inventory = store.stagingRecoveryInventory();
        staging = co_await std::move(inventory);
        auto checking = awaitResult(QtConcurrent::run(QThreadPool::globalInstance(), inspectSessions, sessions));
        files = co_await std::move(checking);
    } catch (...) {
        if (self)
            self->reportGuarded(std::current_exception(), epoch);
        co_return;
    }
    if (!self || !guardHolds(epoch))
        co_return;
    QWidget* content = buildContent(sessions, files, marked, drafts, staging, epoch);
    if (window_) {
        window_->close();
        window_->deleteLater();
    }
    QWidget* window = makeWindow(text(MessageKey::reviewPendingTitle));
    setContent(window, scrollAround(content));
    present(window);
    window_ = window;
}

QWidget* WorkflowRecoveryController::buildContent(const QList<EditSession>& sessions, const QList<SessionFile>& files,
    const QSet<QUuid>& marked, const QList<NoteDraft>& drafts, const QList<StagingRecoveryItem>& staging,
    std::uint64_t epoch)
{
    auto* stack = new QWidget;
    QVBoxLayout* layout = listColumn(stack, MessageKey::reviewPendingMessage);

    QPointer<WorkflowRecoveryController> self(this);
    // Every button does nothing once the controller is gone or the line was
    // covered since the window was built.
    const auto live = [self, epoch] { return self && self->guardHolds(epoch); };
    const bool covered = line_->isCovered();
    // Work an open window holds says so, and its buttons lead to that window.
    const QSet<QUuid> heldNow = held();
    const auto discardAction = [self, live, epoch](QUuid id, bool note) {
        return RowAction{MessageKey::recoveryDiscard, [self, live, id, note, epoch] {
            if (live())
                launchTask(self->discard(id, note, epoch), {});
        }};
    };
    for (const MaterialRecord& record : line_->snapshot->materials) {
        if (record.status != MaterialStatus::needsReview)
            continue;
        const QUuid id = record.id;
        const auto open = [self, live, id, epoch] {
            if (!live())
                return;
            launchTask(self->actions_.open(id), [self, epoch](std::exception_ptr error) {
                if (self)
                    self->reportGuarded(error, epoch);
            });
        };
        const auto hang = [self, live, id, epoch] {
            if (live())
                launchTask(self->hangReviewed(id, epoch), {});
        };
        const QString title = covered ? text(MessageKey::recoveryTitle) : cutAtCharacter(record.title, titleLimit);
        addRow(layout, label(title, false), 10, {{MessageKey::open, open}, {MessageKey::hangReviewed, hang}});
    }
    for (qsizetype index = 0; index < sessions.size(); ++index) {
        const EditSession& session = sessions[index];
        // A working file its editor cannot open can still be copied out.
        const SessionFile file = files.value(index, SessionFile{true, std::nullopt});
        const bool isHeld = heldNow.contains(session.id);
        const bool opens = file.opens || isHeld;
        const RowAction resumeOrExport = opens ? RowAction{MessageKey::resumeDraft, [self, live, session] {
            if (live())
                self->resume(session);
        }} : RowAction{MessageKey::stagingExport, [self, live, session] {
            if (live())
                launchTask(self->exportSession(session), {});
        }};
        // Whose draft it is, and where it is now, or what it holds and since
        // when it waits.
        const MaterialRecord* material = line_->snapshot->findMaterial(session.materialID);
        QString state = text(isHeld ? MessageKey::recoveryHeldDraft
                : opens             ? MessageKey::retainedDraft
                                    : MessageKey::recoveryUnopenableDraft);
        if (!isHeld && session.kind == VersionKind::markup)
            state += middleDot()
                + text(marked.contains(session.id) ? MessageKey::recoveryWithMarks : MessageKey::recoveryWithoutMarks);
        if (!isHeld && file.written)
            state += middleDot() + when(*file.written);
        addRow(layout, twoLines(covered || !material ? text(MessageKey::recoveryTitle) : material->title, state), 10,
            {resumeOrExport, discardAction(session.id, false)});
    }
    for (const NoteDraft& draft : drafts) {
        const MaterialRecord* material
            = draft.materialID.isNull() ? nullptr : line_->snapshot->findMaterial(draft.materialID);
        QString title = covered ? QString() : firstLine(draft.text);
        if (title.isEmpty())
            title = material && !covered ? material->title : text(MessageKey::noteTitle);
        const QString state = heldNow.contains(draft.id) ? text(MessageKey::recoveryHeldDraft)
                                                         : text(MessageKey::noteTitle) + middleDot()
                + text(MessageKey::retainedDraft) + middleDot() + when(draft.updatedAt);
        addRow(layout, twoLines(title, state), -1,
            {{MessageKey::resumeDraft, [self, live, draft] {
                if (live() && !self->raiseHolder(draft.id))
                    self->onResumeNote(draft);
            }}, discardAction(draft.id, true)});
    }
    if (!line_->isCovered() && !staging.isEmpty()) {
        layout->addWidget(label(text(MessageKey::stagingHelp), true));
        for (const StagingRecoveryItem& item : staging) {
            QList<RowAction> actions;
            if (item.disposition == StagingRecoveryItem::Disposition::unowned) {
                const QString path = item.relativePath;
                actions.append({MessageKey::stagingExport, [self, live, path] {
                    if (live())
                        launchTask(self->exportStaging(path), {});
                }});
            }
            addRow(layout, label(stagingLabel(item), true), 10, actions);
        }
        layout->addWidget(new ActionButton(text(MessageKey::cleanupPreview), [self, live] {
            if (live() && self->onPreviewCleanup)
                self->onPreviewCleanup();
        }),
            0, Qt::AlignLeft);
    }
    layout->addStretch(1);
    return stack;
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

std::optional<QString> WorkflowRecoveryController::chooseDestination(const QString& suggestedName)
{
    if (!line_ || line_->isCovered())
        return std::nullopt;
    const QPointer<WorkflowRecoveryController> self(this);
    const auto panel = std::make_unique<QFileDialog>();
    // Our own dialog, not the desktop's: a privacy cover must be able to close it.
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setDirectory(ChooserFolders::documents());
    panel->selectFile(suggestedName);
    exportPanel_ = panel.get();
    // The modal loop may end the controller; the runner must outlive it.
    const SavePanelRunner run = runSavePanel;
    std::optional<QString> chosen;
    {
        ModalRegistration registration(*line_, panel.get());
        chosen = run(*panel);
        if (registration.cancelled())
            chosen.reset();
    }
    if (!self)
        return std::nullopt;
    exportPanel_ = nullptr;
    return chosen;
}

std::optional<std::uint64_t> WorkflowRecoveryController::uncoveredEpoch() const
{
    if (!line_)
        return std::nullopt;
    const std::uint64_t epoch = line_->privacyEpoch();
    if (!guardHolds(epoch))
        return std::nullopt;
    return epoch;
}

QCoro::Task<void> WorkflowRecoveryController::writeExport(
    QString suggestedName, std::uint64_t epoch, std::function<QCoro::Task<void>(QUrl)> write)
{
    QPointer<WorkflowRecoveryController> self(this);
    const std::optional<QString> chosen = chooseDestination(suggestedName);
    if (!self || !chosen || chosen->isEmpty() || !guardHolds(epoch))
        co_return;
    try {
        auto writing = write(QUrl::fromLocalFile(*chosen));
        co_await std::move(writing);
    } catch (...) {
        if (self && self->onError)
            self->onError(std::current_exception());
        co_return;
    }
    if (self && guardHolds(epoch))
        line_->inputFeedback = text(MessageKey::stagingExportDone);
}

QCoro::Task<void> WorkflowRecoveryController::exportSession(EditSession session)
{
    const std::optional<std::uint64_t> epoch = uncoveredEpoch();
    if (!epoch)
        co_return;
    const QString suffix = QFileInfo(session.workingURL.toLocalFile()).suffix();
    const MaterialRecord* record = line_->snapshot->findMaterial(session.materialID);
    const QString name = record ? ContentStore::suggestedExportFilename(*record, suffix)
                                : QFileInfo(session.workingURL.toLocalFile()).fileName();
    auto exporting = writeExport(name, *epoch, [session](QUrl destination) {
        return awaitResult(QtConcurrent::run(QThreadPool::globalInstance(), [session, destination] {
            SystemFileOperations::shared()->writeAtomicCopy(session.workingURL, destination);
        }));
    });
    co_await std::move(exporting);
}

QCoro::Task<void> WorkflowRecoveryController::exportStaging(QString relativePath)
{
    const std::optional<std::uint64_t> epoch = uncoveredEpoch();
    if (!epoch)
        co_return;
    QPointer<WorkflowRecoveryController> self(this);
    const auto fail = [self](std::exception_ptr error) {
        if (self && self->onError)
            self->onError(error);
    };
    StorageCleanupPlan plan;
    try {
        auto previewing = materialStore().previewStorageCleanup(Date::now(), held());
        plan = co_await std::move(previewing);
    } catch (...) {
        fail(std::current_exception());
        co_return;
    }
    if (!self)
        co_return;
    const auto target = std::find_if(plan.targets.begin(), plan.targets.end(), [&](const CleanupTarget& candidate) {
        return candidate.kind == CleanupTarget::Kind::unownedStaging && candidate.relativePath == relativePath;
    });
    if (!guardHolds(*epoch) || target == plan.targets.end()) {
        fail(std::make_exception_ptr(StoreError::sourceChanged()));
        co_return;
    }
    const CleanupTarget chosenTarget = *target;
    auto exporting = writeExport(chosenTarget.title, *epoch,
        [this, chosenTarget, plan = std::move(plan)](QUrl destination) -> QCoro::Task<void> {
            auto copying = materialStore().exportStagingCopy(chosenTarget, plan, destination);
            co_await std::move(copying);
        });
    co_await std::move(exporting);
}

} // namespace tolvex
