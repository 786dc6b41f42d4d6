#include "Velmarin/Windows/TakenDownHistory.h"

#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Common/TextCut.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Windows/RecoveryLists.h"

#include <QCoro/QCoroFuture>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace tolvex {

using namespace RecoveryLists;

namespace {

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

} // namespace

TakenDownHistory::TakenDownHistory(Line& line) : line_(&line)
{
    schedule = [](std::chrono::milliseconds delay, std::function<void()> fire) {
        QTimer::singleShot(delay, std::move(fire));
    };
}

TakenDownHistory::~TakenDownHistory()
{
    delete window_.data();
}

bool TakenDownHistory::guardHolds(std::uint64_t epoch) const
{
    return line_ && !line_->isCovered() && line_->privacyEpoch() == epoch;
}

void TakenDownHistory::follow(const WorkspaceSnapshot& snapshot)
{
    if (window_ && window_->isVisible())
        update(window_, snapshot);
}

void TakenDownHistory::cover()
{
    if (window_)
        coverAndRelease(window_);
    window_ = nullptr;
    undoIDs_.clear();
    if (line_ && !undoFeedback_.isEmpty() && line_->inputFeedback() == undoFeedback_)
        line_->inputFeedback = QString();
}

QList<MaterialRecord> TakenDownHistory::records(const WorkspaceSnapshot& snapshot)
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

QScrollArea* TakenDownHistory::content(const WorkspaceSnapshot& snapshot)
{
    auto* stack = new QWidget;
    QVBoxLayout* layout = listColumn(stack, MessageKey::takenDownHelp);
    const QList<MaterialRecord> listed = records(snapshot);
    QPointer<TakenDownHistory> self(this);
    for (const MaterialRecord& record : listed) {
        const QUuid id = record.id;
        // One line a card: a long title gives way, its kind stays in view.
        auto* caption = new QWidget;
        auto* line = new QHBoxLayout(caption);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(0);
        line->addWidget(oneLine(cutAtCharacter(record.title, titleLimit)));
        line->addWidget(label(middleDot() + kindLabel(record.kind), false));
        line->addStretch(1);
        addRow(layout, caption, 10,
            {{MessageKey::rehangMaterial, [self, id] {
                if (!self)
                    return;
                launchTask(self->rehang(id), [self](std::exception_ptr error) {
                    if (self && self->onError)
                        self->onError(error);
                });
            }}});
    }
    if (listed.isEmpty())
        layout->addWidget(label(text(MessageKey::takenDownEmpty), false));
    layout->addStretch(1);
    return scrollAround(stack);
}

void TakenDownHistory::update(QWidget* window, const WorkspaceSnapshot& snapshot)
{
    // Kept as the distance from the bottom, where new cards of the group land.
    int offset = 0;
    if (matterID_ == snapshot.selectedMatterID) {
        if (auto* scroll = qobject_cast<QScrollArea*>(contentOf(window)); scroll && scroll->widget()) {
            const QScrollBar* bar = scroll->verticalScrollBar();
            offset = std::max(0, bar->maximum() - bar->value());
        }
    }
    QScrollArea* scroll = content(snapshot);
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
    matterID_ = snapshot.selectedMatterID;
}

QCoro::Task<void> TakenDownHistory::show()
{
    if (!line_)
        co_return;
    const std::uint64_t epoch = line_->privacyEpoch();
    if (!guardHolds(epoch))
        co_return;
    QPointer<TakenDownHistory> self(this);
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
    QWidget* window = window_ ? window_.data() : makeWindow(QString());
    window->setWindowTitle(text(MessageKey::takenDownMaterials));
    update(window, line_->snapshot());
    present(window);
    window_ = window;
}

QCoro::Task<void> TakenDownHistory::rehang(QUuid id)
{
    if (!line_ || line_->isCovered())
        co_return;
    QPointer<TakenDownHistory> self(this);
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

void TakenDownHistory::noteTakenDown(const QList<QUuid>& ids, Date at)
{
    if (!line_ || line_->isCovered() || ids.isEmpty())
        return;
    undoIDs_ = ids;
    undoDeadline_ = at.addingSeconds(undoSeconds);
    const std::uint64_t token = ++undoToken_;
    const QString feedback = ids.size() == 1
        ? text(MessageKey::takeDownUndoFeedback)
        : MessageFormat::format(text(MessageKey::historyUndoFeedbackBatch), {ids.size()});
    undoFeedback_ = feedback;
    line_->inputFeedback = feedback;
    QPointer<TakenDownHistory> self(this);
    schedule(std::chrono::milliseconds(static_cast<int>(undoSeconds * 1000)), [self, token, feedback] {
        // A newer take-down owns the undo and the feedback line now.
        if (!self || self->undoToken_ != token)
            return;
        self->undoIDs_.clear();
        if (self->line_ && self->line_->inputFeedback() == feedback)
            self->line_->inputFeedback = QString();
    });
}

bool TakenDownHistory::canUndoTakeDown(Date at) const
{
    if (!line_ || line_->isCovered() || !(at < undoDeadline_))
        return false;
    const WorkspaceSnapshot& snapshot = line_->snapshot();
    return std::any_of(undoIDs_.begin(), undoIDs_.end(), [&](const QUuid& id) {
        const MaterialRecord* record = snapshot.findMaterial(id);
        return record && record->status == MaterialStatus::takenDown;
    });
}

QCoro::Task<void> TakenDownHistory::undoTakeDown(Date at)
{
    if (!line_ || line_->isCovered())
        co_return;
    if (!(at < undoDeadline_)) {
        // Only a take-down that was noted can have expired.
        if (undoToken_ != 0)
            line_->inputFeedback = text(MessageKey::historyUndoExpired);
        co_return;
    }
    if (!canUndoTakeDown(at))
        co_return;
    QPointer<TakenDownHistory> self(this);
    auto hanging = hangAll(undoIDs_);
    const int hung = co_await std::move(hanging);
    if (!self || !line_ || line_->isCovered() || hung == 0)
        co_return;
    line_->inputFeedback = hung == 1 ? text(MessageKey::inputSaved)
                                     : MessageFormat::format(text(MessageKey::historyRehungBatch), {hung});
}

QCoro::Task<int> TakenDownHistory::hangAll(QList<QUuid> ids)
{
    QPointer<TakenDownHistory> self(this);
    auto loading = line_->store().load();
    const WorkspaceSnapshot loaded = co_await std::move(loading);
    if (!self || !line_ || line_->isCovered() || loaded.privacyHidden)
        co_return 0;
    // Sent all at once: the store runs them in order, without waiting for
    // this thread between two of them.
    QList<std::pair<QUuid, QFuture<WorkspaceSnapshot>>> sent;
    for (const QUuid& id : ids) {
        const MaterialRecord* record = loaded.findMaterial(id);
        if (record && (record->status == MaterialStatus::takenDown || record->status == MaterialStatus::archived))
            sent.append({id, line_->store().apply(MaterialCommand::hang(id), Line::maxItems)});
        else
            undoIDs_.removeAll(id);
    }
    int hung = 0;
    std::optional<WorkspaceSnapshot> latest;
    std::exception_ptr failure;
    for (const auto& [id, future] : sent) {
        bool applied = true;
        try {
            QFuture<WorkspaceSnapshot> applying = future;
            latest = co_await std::move(applying);
        } catch (...) {
            // A failed id stays for a retry; the others are hung.
            failure = std::current_exception();
            applied = false;
        }
        if (!self || !line_)
            co_return hung;
        if (!applied)
            continue;
        ++hung;
        undoIDs_.removeAll(id);
    }
    // One render for the whole batch: rendering after each card brought a
    // shelf of cards back one by one, seconds apart.
    if (latest) {
        latest->privacyHidden = latest->privacyHidden || line_->isCovered();
        auto rendering = line_->render(std::move(*latest));
        co_await std::move(rendering);
    }
    if (failure)
        std::rethrow_exception(failure);
    co_return hung;
}

} // namespace tolvex
