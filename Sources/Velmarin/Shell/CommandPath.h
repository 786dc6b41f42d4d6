#pragma once

#include "TolvexCore/Model/MaterialCommand.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>

#include <exception>
#include <functional>

namespace tolvex {

class EventSound;
class Line;
class UserDefaults;
class WorkflowRecoveryController;

// From a card's command to the store and back onto the line: the store
// applies it, falling cards start to fall, the sound plays, and after a
// short pause the line shows the store's state. Cards taken down are noted
// for the 8-second undo. GUI thread only.
class CommandPath final : public QObject {
public:
    static constexpr int settleMilliseconds = 100;

    // The recovery controller is looked up at the end of each command,
    // since it may be replaced meanwhile.
    CommandPath(Line& line, UserDefaults& defaults, EventSound& sound,
        std::function<WorkflowRecoveryController*()> recovery, std::function<void(std::exception_ptr)> presentError);

    QCoro::Task<void> run(MaterialCommand command);

private:
    QPointer<Line> line_;
    UserDefaults& defaults_;
    EventSound& sound_;
    std::function<WorkflowRecoveryController*()> recovery_;
    std::function<void(std::exception_ptr)> presentError_;
};

} // namespace tolvex
