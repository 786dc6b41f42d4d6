#pragma once

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QException>
#include <QFuture>

#include <exception>
#include <optional>
#include <type_traits>

namespace tolvex {

// A QFuture keeps a QException as itself but wraps every other exception
// (std::system_error from the file layer, for one) in QUnhandledException.
// These helpers hand the caller the exception that was thrown, so that
// `catch (const std::system_error&)` sees file errors as they left the store.

// Rethrows the exception inside a QUnhandledException; rethrows the
// wrapper itself when it carries nothing.
[[noreturn]] inline void rethrowUnwrapped(const QUnhandledException& wrapper)
{
    if (const std::exception_ptr inner = wrapper.exception())
        std::rethrow_exception(inner);
    throw wrapper;
}

// Rethrows `error`, unwrapping a QUnhandledException.
[[noreturn]] inline void rethrowUnwrapped(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const QUnhandledException& wrapper) {
        rethrowUnwrapped(wrapper);
    }
}

// Blocks until the future is finished and returns its result, or throws the
// exception that ended it, unwrapped. For tests, benchmarks and code that
// runs off the GUI thread.
template <typename T>
T waitForResult(QFuture<T> future)
{
    try {
        future.waitForFinished();
        if constexpr (!std::is_void_v<T>)
            return future.result();
    } catch (const QUnhandledException& wrapper) {
        rethrowUnwrapped(wrapper);
    }
}

// The coroutine form for the GUI thread: `co_await awaitResult(store.load())`.
template <typename T>
QCoro::Task<T> awaitResult(QFuture<T> future)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await future;
            co_return;
        } else {
            co_return co_await future;
        }
    } catch (const QUnhandledException& wrapper) {
        rethrowUnwrapped(wrapper);
    }
}

// What a future ended with, for a caller that goes on either way: its value,
// or the exception that ended it, unwrapped. Never both.
template <typename T>
struct Settled {
    std::optional<T> value;
    std::exception_ptr failure;
};

// The form of awaitResult that never throws:
// `auto loading = awaitSettled(store.load()); const auto loaded = co_await std::move(loading);`
template <typename T>
QCoro::Task<Settled<T>> awaitSettled(QFuture<T> future)
{
    Settled<T> settled;
    try {
        auto waiting = awaitResult(std::move(future));
        settled.value = co_await std::move(waiting);
    } catch (...) {
        settled.failure = std::current_exception();
    }
    co_return settled;
}

} // namespace tolvex
