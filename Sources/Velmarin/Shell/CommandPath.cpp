#include "Velmarin/Shell/CommandPath.h"

#include "Velmarin/Platform/EventSound.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>

#include <chrono>

namespace tolvex {

namespace {

QList<QUuid> cardsTakenDownBy(const MaterialCommand& command, const WorkspaceSnapshot& before)
{
    QList<QUuid> ids;
    if (const auto* takeDown = std::get_if<MaterialCommand::TakeDown>(&command.value)) {
        ids.append(takeDown->materialID);
    } else if (const auto* unpinned = std::get_if<MaterialCommand::TakeDownUnpinned>(&command.value)) {
        for (const MaterialRecord& record : before.materials) {
            if (record.matterID == unpinned->matterID && record.status == MaterialStatus::hanging && !record.pinned)
                ids.append(record.id);
        }
    }
    return ids;
}

} // namespace

CommandPath::CommandPath(Line& line, UserDefaults& defaults, EventSound& sound,
    std::function<WorkflowRecoveryController*()> recovery, std::function<void(std::exception_ptr)> presentError)
    : line_(&line), defaults_(defaults), sound_(sound), recovery_(std::move(recovery)),
      presentError_(std::move(presentError))
{
}

QCoro::Task<void> CommandPath::run(MaterialCommand command)
{
    QPointer<CommandPath> self(this);
    QPointer<Line> line = line_;
    if (!line)
        co_return;
    const QList<QUuid> takenDown = cardsTakenDownBy(command, line->snapshot());

    WorkspaceSnapshot applied;
    try {
        auto applying = line->store().apply(command, Line::maxItems);
        applied = co_await std::move(applying);
    } catch (...) {
        if (self)
            presentError_(std::current_exception());
        co_return;
    }
    if (!self || !line)
        co_return;

    for (const QUuid& id : takenDown)
        line->animateTakeDown(id);
    sound_.playUnlessQuiet(line->isCovered(), defaults_);

    auto settling = QCoro::sleepFor(std::chrono::milliseconds(settleMilliseconds));
    co_await std::move(settling);
    if (!self || !line)
        co_return;

    // The command happened: a failed re-read (a busy store) must neither
    // report it as failed nor lose its undo, so the line shows what the
    // command itself returned.
    WorkspaceSnapshot current;
    try {
        auto reading = line->store().load();
        current = co_await std::move(reading);
    } catch (...) {
        current = applied;
    }
    if (!self || !line)
        co_return;
    auto rendering = line->render(current);
    co_await std::move(rendering);
    if (!self || !line)
        co_return;

    if (WorkflowRecoveryController* recovery = recovery_ ? recovery_() : nullptr)
        recovery->noteTakenDown(takenDown, Date::now());
}

} // namespace tolvex
