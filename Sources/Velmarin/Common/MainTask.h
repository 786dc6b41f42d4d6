#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

namespace tolvex {

// Main-thread asynchronous work is written as QCoro coroutines
// (QCoro::Task<T>), which start at once and run on the GUI thread between
// their co_awaits. Two rules hold for every such task:
//
// 1. Whatever the task had checked before a co_await may have changed when
//    it resumes: the owner may be gone, a newer render or a privacy cover may
//    have happened. Record a TaskGuard before awaiting and test it after
//    every co_await, before touching any state.
// 2. A task that nobody awaits loses its exception. Start such tasks with
//    launchTask(), which catches everything at the top and hands it on.
// 3. Name what you await: `auto task = f(); co_await std::move(task);`.
//    GCC 12 may destroy the temporaries of a co_await expression twice
//    (a lambda's captures, a future returned by a call), which corrupts
//    the heap.

// Remembers an owner and the counters that must not move while a task is
// suspended ("render generation", "privacy epoch"). The counters belong to
// the owner and are read only while it is alive.
class TaskGuard {
public:
    TaskGuard(const QObject* owner, std::initializer_list<const std::uint64_t*> counters)
        : owner_(owner)
    {
        for (const std::uint64_t* counter : counters)
            recorded_.push_back({counter, *counter});
    }

    // The owner is alive and no watched counter has moved.
    bool holds() const
    {
        if (!owner_)
            return false;
        for (const auto& [counter, value] : recorded_) {
            if (*counter != value)
                return false;
        }
        return true;
    }
    explicit operator bool() const { return holds(); }

private:
    QPointer<const QObject> owner_;
    std::vector<std::pair<const std::uint64_t*, std::uint64_t>> recorded_;
};

using TaskErrorHandler = std::function<void(std::exception_ptr)>;

namespace detail {
inline QCoro::Task<void> guardedTask(QCoro::Task<void> task, TaskErrorHandler onError)
{
    try {
        co_await std::move(task);
    } catch (...) {
        if (onError)
            onError(std::current_exception());
    }
}
} // namespace detail

// Lets a started task run on by itself. Any exception it ends with goes to
// `onError` on the GUI thread (the handler must check its own owner is
// alive); without a handler the exception is dropped on purpose.
inline void launchTask(QCoro::Task<void> task, TaskErrorHandler onError)
{
    // The returned task object may be dropped: the coroutine runs on and
    // frees itself when it ends.
    [[maybe_unused]] auto running = detail::guardedTask(std::move(task), std::move(onError));
}

} // namespace tolvex
