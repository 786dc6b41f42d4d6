#include "Velmarin/Shell/WorkflowRecoveryController.h"

#include "TolvexCore/Model/MaterialCommand.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Actions/Markup.h"

#include <QCoro/QCoroFuture>

namespace tolvex {

WorkflowRecoveryController::WorkflowRecoveryController(Line& line, MaterialActions& actions, Markup* markup)
    : line_(&line), actions_(actions), markup_(markup ? *markup : Markup::shared())
{
}

QCoro::Task<void> WorkflowRecoveryController::refresh(bool)
{
    co_return;
}

QCoro::Task<void> WorkflowRecoveryController::show(std::optional<std::uint64_t>)
{
    co_return;
}

QCoro::Task<void> WorkflowRecoveryController::showTakenDown()
{
    co_return;
}

void WorkflowRecoveryController::noteTakenDown(const QList<QUuid>& ids, Date at)
{
    if (!line_ || line_->isCovered() || ids.isEmpty())
        return;
    undoIDs_ = ids;
    undoDeadline_ = at.addingSeconds(undoSeconds);
    ++undoToken_;
}

bool WorkflowRecoveryController::canUndoTakeDown(Date at) const
{
    return !undoIDs_.isEmpty() && undoDeadline_ && at < *undoDeadline_;
}

QCoro::Task<void> WorkflowRecoveryController::undoTakeDown(Date at)
{
    if (!canUndoTakeDown(at) || !line_)
        co_return;
    const QList<QUuid> ids = undoIDs_;
    const std::uint64_t token = undoToken_;
    QPointer<Line> line = line_;
    const std::weak_ptr<int> life = life_;
    std::optional<WorkspaceSnapshot> latest;
    for (const QUuid& id : ids) {
        auto hanging = line->store().apply(MaterialCommand::hang(id), Line::maxItems);
        latest = co_await std::move(hanging);
        if (!line || life.expired())
            co_return;
    }
    // A newer take-down keeps its own undo.
    if (undoToken_ == token) {
        undoIDs_.clear();
        undoDeadline_.reset();
    }
    if (latest) {
        auto rendering = line->render(*latest);
        co_await std::move(rendering);
    }
}

} // namespace tolvex
