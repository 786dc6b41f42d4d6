#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Store/StorageCleanupPlan.h"
#include "TolvexCore/Texts/MessageKey.h"
#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Common/ByteCountFormat.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Shelf/ModalRegistration.h"
#include "Velmarin/Shelf/PrivacyPlaceholder.h"
#include "Velmarin/Shell/AppLocalizer.h"

#include <QCoro/QCoroFuture>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace tolvex {

namespace {

const QString middleDot = QStringLiteral(" \u00B7 ");

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

QLabel* label(const QString& content, bool wraps)
{
    auto* made = new QLabel(content);
    made->setWordWrap(wraps);
    made->setTextFormat(Qt::PlainText);
    return made;
}

// The column of a window's list, opened by a wrapping help text.
QVBoxLayout* listColumn(QWidget* stack, MessageKey help)
{
    auto* layout = new QVBoxLayout(stack);
    layout->setSpacing(14);
    layout->setContentsMargins(22, 22, 22, 22);
    // Top only: a layout aligned left too would shrink to its hint and
    // wrap every help text into a narrow column.
    layout->setAlignment(Qt::AlignTop);
    layout->addWidget(label(text(help), true));
    return layout;
}

struct RowAction {
    MessageKey title;
    std::function<void()> handler;
};

// One item of a list: its caption, then a button per action. A negative
// spacing leaves the row at the layout's default.
void addRow(QVBoxLayout* list, QLabel* caption, int spacing, const QList<RowAction>& actions)
{
    auto* line = new QHBoxLayout;
    if (spacing >= 0)
        line->setSpacing(spacing);
    // The caption takes the room, the buttons keep their natural width.
    line->addWidget(caption, 1);
    for (const RowAction& action : actions)
        line->addWidget(new ActionButton(text(action.title), action.handler));
    list->addLayout(line);
}

QString kindLabel(MaterialKind kind)
{
    switch (kind) {
    case MaterialKind::image:
        return text(MessageKey::inputImages);
    case MaterialKind::text:
        return text(MessageKey::inputText);
    case MaterialKind::pdf:
        return text(MessageKey::materialPDF);
    case MaterialKind::file:
        break;
    }
    return text(MessageKey::inputFiles);
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
        label += middleDot + formatByteCount(*item.byteCount);
    return label;
}

// The window's one content widget, replaced whole on each rebuild.
QWidget* contentOf(QWidget* window)
{
    QLayout* layout = window->layout();
    return layout && layout->count() > 0 ? layout->itemAt(0)->widget() : nullptr;
}

void setContent(QWidget* window, QWidget* content)
{
    auto* layout = static_cast<QVBoxLayout*>(window->layout());
    if (!layout) {
        layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    while (QLayoutItem* item = layout->takeAt(0)) {
        // The old content may hold the button whose click is running: it
        // leaves the window now and is freed once the click has returned.
        if (QWidget* old = item->widget()) {
            old->hide();
            old->setParent(nullptr);
            old->deleteLater();
        }
        delete item;
    }
    layout->addWidget(content);
}

QWidget* makeWindow(const QString& title)
{
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(title);
    window->resize(580, 380);
    return window;
}

QScrollArea* scrollAround(QWidget* stack)
{
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidget(stack);
    return scroll;
}

void present(QWidget* window)
{
    if (const QScreen* screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

WorkflowRecoveryController::WorkflowRecoveryController(Line& line, MaterialActions& actions, Markup* markup)
    : line_(&line), actions_(actions), markup_(markup ? *markup : Markup::shared())
{
    schedule = [](std::chrono::milliseconds delay, std::function<void()> fire) {
        QTimer::singleShot(delay, std::move(fire));
    };
    runSavePanel = [](QFileDialog& panel) -> std::optional<QString> {
        if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
            return std::nullopt;
        return panel.selectedFiles().constFirst();
    };
    QPointer<WorkflowRecoveryController> self(this);
    snapshotObserver_ = line.snapshot.subscribe([self](const WorkspaceSnapshot& snapshot) {
        if (self)
            self->snapshotChanged(snapshot);
    });
}

WorkflowRecoveryController::~WorkflowRecoveryController()
{
    delete window_.data();
    delete recentWindow_.data();
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
        if (recentWindow_ && recentWindow_->isVisible())
            updateTakenDownContent(recentWindow_, snapshot);
        return;
    }
    for (QWidget* shown : {window_.data(), recentWindow_.data()}) {
        if (!shown)
            continue;
        shown->hide();
        shown->setWindowTitle(text(MessageKey::contentHidden));
        setContent(shown, privacyPlaceholder(shown));
    }
    window_ = nullptr;
    recentWindow_ = nullptr;
    if (exportPanel_)
        exportPanel_->reject();
    undoIDs_.clear();
    if (line_ && line_->inputFeedback() == text(MessageKey::takeDownUndoFeedback))
        line_->inputFeedback = QString();
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
    QList<NoteDraft> drafts;
    QList<StagingRecoveryItem> staging;
    try {
        MaterialStore& store = materialStore();
        auto loadingSessions = store.pendingEditSessions();
        sessions = co_await std::move(loadingSessions);
        auto loadingDrafts = store.pendingNoteDrafts();
        drafts = co_await std::move(loadingDrafts);
        if (!self || !line_ || line_->isCovered())
            co_return;
        auto inventory = store.stagingRecoveryInventory();
        staging = co_await std::move(inventory);
    } catch (...) {
        if (self)
            self->reportGuarded(std::current_exception(), epoch);
        co_return;
    }
    if (!self || !guardHolds(epoch))
        co_return;
    QWidget* content = buildContent(sessions, drafts, staging, epoch);
    if (window_) {
        window_->close();
        window_->deleteLater();
    }
    QWidget* window = makeWindow(text(MessageKey::reviewPendingTitle));
    setContent(window, scrollAround(content));
    present(window);
    window_ = window;
}

QWidget* WorkflowRecoveryController::buildContent(const QList<EditSession>& sessions,
    const QList<NoteDraft>& drafts, const QList<StagingRecoveryItem>& staging, std::uint64_t epoch)
{
    auto* stack = new QWidget;
    QVBoxLayout* layout = listColumn(stack, MessageKey::reviewPendingMessage);

    QPointer<WorkflowRecoveryController> self(this);
    // Every button does nothing once the controller is gone or the line was
    // covered since the window was built.
    const auto live = [self, epoch] { return self && self->guardHolds(epoch); };
    const bool covered = line_->isCovered();
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
        addRow(layout, label(covered ? text(MessageKey::recoveryTitle) : record.title.left(titleLimit), false), 10,
            {{MessageKey::open, open}, {MessageKey::hangReviewed, hang}});
    }
    for (const EditSession& session : sessions) {
        addRow(layout, label(text(MessageKey::retainedDraft), false), 10,
            {{MessageKey::resumeDraft, [self, live, session] {
                if (live())
                    self->resume(session);
            }}});
    }
    for (const NoteDraft& draft : drafts) {
        addRow(layout, label(text(MessageKey::noteTitle) + middleDot + text(MessageKey::retainedDraft), false), -1,
            {{MessageKey::resumeDraft, [self, live, draft] {
                if (live())
                    self->onResumeNote(draft);
            }}});
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
            if (!live())
                return;
            if (const auto open = self->line_->onOpenIntakeSettings())
                open();
        }),
            0, Qt::AlignLeft);
    }
    layout->addStretch(1);
    return stack;
}

void WorkflowRecoveryController::resume(const EditSession& session)
{
    if (!line_)
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

QCoro::Task<void> WorkflowRecoveryController::exportStaging(QString relativePath)
{
    if (!line_)
        co_return;
    const std::uint64_t epoch = line_->privacyEpoch();
    if (!guardHolds(epoch))
        co_return;
    QPointer<WorkflowRecoveryController> self(this);
    const auto fail = [self](std::exception_ptr error) {
        if (self && self->onError)
            self->onError(error);
    };
    StorageCleanupPlan plan;
    try {
        auto previewing = materialStore().previewStorageCleanup(Date::now());
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
    if (!guardHolds(epoch) || target == plan.targets.end()) {
        fail(std::make_exception_ptr(StoreError::sourceChanged()));
        co_return;
    }
    const CleanupTarget chosenTarget = *target;
    const auto panel = std::make_unique<QFileDialog>();
    // Our own dialog, not the desktop's: a privacy cover must be able to close it.
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->selectFile(chosenTarget.title);
    exportPanel_ = panel.get();
    std::optional<QString> chosen;
    if (!line_->isCovered()) {
        // The modal loop may end the controller; the runner must outlive it.
        const SavePanelRunner run = runSavePanel;
        ModalRegistration registration(*line_, panel.get());
        chosen = run(*panel);
        if (registration.cancelled())
            chosen.reset();
    }
    if (!self)
        co_return;
    exportPanel_ = nullptr;
    if (!chosen || chosen->isEmpty() || !guardHolds(epoch))
        co_return;
    try {
        auto exporting = materialStore().exportStagingCopy(chosenTarget, plan, QUrl::fromLocalFile(*chosen));
        co_await std::move(exporting);
    } catch (...) {
        fail(std::current_exception());
        co_return;
    }
    if (self && guardHolds(epoch))
        line_->inputFeedback = text(MessageKey::stagingExportDone);
}

QList<MaterialRecord> WorkflowRecoveryController::takenDownRecords(const WorkspaceSnapshot& snapshot)
{
    QList<MaterialRecord> records;
    if (snapshot.privacyHidden)
        return records;
    for (const MaterialRecord& record : snapshot.materials) {
        if (record.status == MaterialStatus::takenDown && record.matterID == snapshot.selectedMatterID)
            records.append(record);
    }
    std::stable_sort(records.begin(), records.end(), [](const MaterialRecord& a, const MaterialRecord& b) {
        if (a.order != b.order)
            return a.order < b.order;
        if (a.createdAt != b.createdAt)
            return a.createdAt < b.createdAt;
        return uuidText(a.id) < uuidText(b.id);
    });
    return records;
}

QScrollArea* WorkflowRecoveryController::takenDownContent(const WorkspaceSnapshot& snapshot)
{
    auto* stack = new QWidget;
    QVBoxLayout* layout = listColumn(stack, MessageKey::takenDownHelp);
    const QList<MaterialRecord> records = takenDownRecords(snapshot);
    QPointer<WorkflowRecoveryController> self(this);
    for (const MaterialRecord& record : records) {
        const QUuid id = record.id;
        addRow(layout, label(record.title.left(titleLimit) + middleDot + kindLabel(record.kind), true), 10,
            {{MessageKey::rehangMaterial, [self, id] {
                if (!self)
                    return;
                launchTask(self->rehang(id), [self](std::exception_ptr error) {
                    if (self && self->onError)
                        self->onError(error);
                });
            }}});
    }
    if (records.isEmpty())
        layout->addWidget(label(text(MessageKey::takenDownEmpty), false));
    layout->addStretch(1);
    return scrollAround(stack);
}

void WorkflowRecoveryController::updateTakenDownContent(QWidget* window, const WorkspaceSnapshot& snapshot)
{
    // Kept as the distance from the bottom, where new cards of the group land.
    int offset = 0;
    if (recentMatterID_ == snapshot.selectedMatterID) {
        if (auto* scroll = qobject_cast<QScrollArea*>(contentOf(window)); scroll && scroll->widget()) {
            const QScrollBar* bar = scroll->verticalScrollBar();
            offset = std::max(0, bar->maximum() - bar->value());
        }
    }
    QScrollArea* scroll = takenDownContent(snapshot);
    setContent(window, scroll);
    window->layout()->activate();
    scroll->widget()->adjustSize();
    // The scroll range follows the new rows only once their layout request
    // has run, so the position is set now and again when it has.
    const QPointer<QScrollArea> placed(scroll);
    const auto keepOffset = [placed, offset] {
        if (!placed)
            return;
        QScrollBar* bar = placed->verticalScrollBar();
        bar->setValue(std::max(bar->minimum(), bar->maximum() - offset));
    };
    keepOffset();
    QTimer::singleShot(0, scroll, keepOffset);
    recentMatterID_ = snapshot.selectedMatterID;
}

QCoro::Task<void> WorkflowRecoveryController::showTakenDown()
{
    if (!line_)
        co_return;
    const std::uint64_t epoch = line_->privacyEpoch();
    if (!guardHolds(epoch))
        co_return;
    QPointer<WorkflowRecoveryController> self(this);
    WorkspaceSnapshot snapshot;
    try {
        auto loading = line_->store().load();
        snapshot = co_await std::move(loading);
    } catch (...) {
        if (self && self->onError)
            self->onError(std::current_exception());
        co_return;
    }
    if (!self || !guardHolds(epoch))
        co_return;
    snapshot.privacyHidden = snapshot.privacyHidden || line_->isCovered();
    auto rendering = line_->render(std::move(snapshot));
    co_await std::move(rendering);
    if (!self || !guardHolds(epoch))
        co_return;
    QWidget* window = recentWindow_ ? recentWindow_.data() : makeWindow(QString());
    window->setWindowTitle(text(MessageKey::takenDownMaterials));
    updateTakenDownContent(window, line_->snapshot());
    present(window);
    recentWindow_ = window;
}

QCoro::Task<void> WorkflowRecoveryController::rehang(QUuid id)
{
    if (!line_ || line_->isCovered())
        co_return;
    QPointer<WorkflowRecoveryController> self(this);
    auto loading = line_->store().load();
    const WorkspaceSnapshot loaded = co_await std::move(loading);
    if (!self || !line_ || line_->isCovered() || loaded.privacyHidden)
        co_return;
    const MaterialRecord* record = loaded.findMaterial(id);
    if (!record || (record->status != MaterialStatus::takenDown && record->status != MaterialStatus::archived))
        co_return;
    auto applying = line_->store().apply(MaterialCommand::hang(id), Line::maxItems);
    WorkspaceSnapshot snapshot = co_await std::move(applying);
    if (!self || !line_)
        co_return;
    snapshot.privacyHidden = snapshot.privacyHidden || line_->isCovered();
    auto rendering = line_->render(std::move(snapshot));
    co_await std::move(rendering);
    if (self && line_ && !line_->isCovered())
        line_->inputFeedback = text(MessageKey::inputSaved);
}

void WorkflowRecoveryController::noteTakenDown(const QList<QUuid>& ids, Date at)
{
    if (!line_ || line_->isCovered() || ids.isEmpty())
        return;
    undoIDs_ = ids;
    undoDeadline_ = at.addingSeconds(undoSeconds);
    const std::uint64_t token = ++undoToken_;
    const QString feedback = text(MessageKey::takeDownUndoFeedback);
    line_->inputFeedback = feedback;
    QPointer<WorkflowRecoveryController> self(this);
    schedule(std::chrono::milliseconds(static_cast<int>(undoSeconds * 1000)), [self, token, feedback] {
        // A newer take-down owns the undo and the feedback line now.
        if (!self || self->undoToken_ != token)
            return;
        self->undoIDs_.clear();
        if (self->line_ && self->line_->inputFeedback() == feedback)
            self->line_->inputFeedback = QString();
    });
}

bool WorkflowRecoveryController::canUndoTakeDown(Date at) const
{
    if (!line_ || line_->isCovered() || !(at < undoDeadline_))
        return false;
    const WorkspaceSnapshot& snapshot = line_->snapshot();
    return std::any_of(undoIDs_.begin(), undoIDs_.end(), [&](const QUuid& id) {
        const MaterialRecord* record = snapshot.findMaterial(id);
        return record && record->status == MaterialStatus::takenDown;
    });
}

QCoro::Task<void> WorkflowRecoveryController::undoTakeDown(Date at)
{
    if (!canUndoTakeDown(at))
        co_return;
    QPointer<WorkflowRecoveryController> self(this);
    const QList<QUuid> ids = undoIDs_;
    for (const QUuid& id : ids) {
        auto hanging = rehang(id);
        co_await std::move(hanging);
        if (!self)
            co_return;
        undoIDs_.removeAll(id);
    }
}

} // namespace tolvex
