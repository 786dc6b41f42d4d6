#pragma once

#include "TolvexCore/Model/StoreError.h"

#include <QCoro/QCoroTask>
#include <QCoro/QCoroTimer>
#include <QDeadlineTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <utility>

namespace tolvex {

// Runs `attempt` again while the store refuses it with operationInProgress
// (another change holds it for a moment), every `pause`, until `deadline`;
// then, and for any other answer, the attempt's own outcome stands. For a
// write that must reach the store now or never, as when the program is
// terminated.
inline QCoro::Task<void> retryWhileBusy(std::function<QCoro::Task<void>()> attempt, QDeadlineTimer deadline,
    std::chrono::milliseconds pause = std::chrono::milliseconds(50))
{
    while (true) {
        std::exception_ptr refusal;
        try {
            auto trying = attempt();
            co_await std::move(trying);
            co_return;
        } catch (...) {
            refusal = std::current_exception();
        }
        if (StoreError::codeOf(refusal) != StoreError::Code::operationInProgress
            || (!deadline.isForever() && deadline.remainingTime() <= pause.count()))
            std::rethrow_exception(refusal);
        auto pausing = QCoro::sleepFor(pause);
        co_await std::move(pausing);
    }
}

} // namespace tolvex
