#pragma once

#include "TolvexCore/Store/StoreContext.h"
#include "TolvexCore/Store/StoreError.h"

#include <QFuture>
#include <QPromise>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tolvex {

// The store's actor: one serial executor (a pool of one thread that never
// expires, first in, first out) that owns the StoreContext. Every operation is
// queued here and its result comes back as a QFuture, so two calls sent in a
// row run in that order and the context is touched by one thread at a time
// without a lock.
//
// Three ways to run an operation, after the busy rule:
// - run: does not look at `busy` (payload access, clipboard settings);
// - runTested: refused with operationInProgress while `busy` is set;
// - runHolding: tested, then holds `busy` until it ends, without suspending;
// - runSuspending: tested and held across one staging step that runs on the
//   shared pool, while other calls queued meanwhile run and are refused.
class StoreExecutor {
public:
    explicit StoreExecutor(std::shared_ptr<StoreContext> context);
    // Waits for every queued operation, suspended ones included.
    ~StoreExecutor();

    StoreExecutor(const StoreExecutor&) = delete;
    StoreExecutor& operator=(const StoreExecutor&) = delete;

    // Submitted as a plain runnable that fulfils a promise. A QFuture made by
    // QtConcurrent::run carries its runnable, and waitForFinished() on it
    // takes a job that is still queued out of the pool and runs it on the
    // waiting thread: beside whatever the actor runs at that moment, and
    // before the jobs queued ahead of it. A promise's future only waits.
    // Errors arrive as QtConcurrent::run delivers them: a QException as
    // itself, anything else wrapped in QUnhandledException.
    template <typename Work>
    auto run(Work&& work) -> QFuture<std::invoke_result_t<Work&, StoreContext&>>
    {
        using Result = std::invoke_result_t<Work&, StoreContext&>;
        auto promise = std::make_shared<QPromise<Result>>();
        QFuture<Result> future = promise->future();
        promise->start();
        pool_.start([promise, context = context_, work = std::forward<Work>(work)]() mutable {
            try {
                if constexpr (std::is_void_v<Result>)
                    work(*context);
                else
                    promise->addResult(work(*context));
            } catch (const QException& error) {
                promise->setException(error);
            } catch (...) {
                promise->setException(QUnhandledException(std::current_exception()));
            }
            promise->finish();
        });
        return future;
    }

    template <typename Work>
    auto runTested(Work&& work) -> QFuture<std::invoke_result_t<Work&, StoreContext&>>
    {
        return run([work = std::forward<Work>(work)](StoreContext& context) mutable {
            context.requireIdle();
            return work(context);
        });
    }

    template <typename Work>
    auto runHolding(Work&& work) -> QFuture<std::invoke_result_t<Work&, StoreContext&>>
    {
        return run([work = std::forward<Work>(work)](StoreContext& context) mutable {
            context.requireIdle();
            BusyHold hold(context);
            return work(context);
        });
    }

    // What the first half of a suspending operation decides: either the
    // operation ends here with its result (a duplicate, a full shelf, an
    // unchanged note), or it goes on to staging with a plan.
    template <typename Result, typename Plan>
    using Decision = std::variant<Result, Plan>;

    // prepare(context) -> Decision<Result, Plan>   runs on the actor with `busy` held;
    // stage(const Plan&) -> Staged                   runs on the shared pool; touches no store state;
    // finish(context, Plan&, Staged&) -> Result      runs on the actor, still holding `busy`.
    // `busy` is tested and taken before prepare, and released after prepare
    // ends early or throws, and after finish in every case. An error of
    // staging is rethrown on the actor, so finish never sees it and `busy`
    // is still released there. A call refused because another operation
    // holds `busy` never releases that other operation's hold.
    template <typename Result, typename Plan, typename Staged>
    QFuture<Result> runSuspending(std::function<Decision<Result, Plan>(StoreContext&)> prepare,
        std::function<Staged(const Plan&)> stage, std::function<Result(StoreContext&, Plan&, Staged&)> finish)
    {
        struct Operation {
            bool holdsBusy = false;
            std::exception_ptr error;
            std::optional<Result> early;
            std::optional<Plan> plan;
            std::optional<Staged> staged;
        };
        auto operation = std::make_shared<Operation>();
        auto tracker = std::make_shared<InFlight>(inFlight_);

        return QtConcurrent::run(&pool_,
            [context = context_, operation, prepare = std::move(prepare)] {
                try {
                    context->requireIdle();
                    context->busy = true;
                    operation->holdsBusy = true;
                    Decision<Result, Plan> decision = prepare(*context);
                    if (auto* plan = std::get_if<Plan>(&decision)) {
                        operation->plan.emplace(std::move(*plan));
                        return;
                    }
                    operation->early.emplace(std::move(std::get<Result>(decision)));
                } catch (...) {
                    operation->error = std::current_exception();
                }
                // Ended before staging: the store is free for the calls queued behind.
                if (operation->holdsBusy) {
                    context->busy = false;
                    operation->holdsBusy = false;
                }
            })
            .then(QThreadPool::globalInstance(),
                [operation, stage = std::move(stage)](QFuture<void> prepared) {
                    prepared.waitForFinished();
                    if (!operation->plan)
                        return;
                    try {
                        operation->staged.emplace(stage(*operation->plan));
                    } catch (...) {
                        operation->error = std::current_exception();
                    }
                })
            .then(&pool_,
                [context = context_, operation, tracker, finish = std::move(finish)](QFuture<void> staged) -> Result {
                    staged.waitForFinished();
                    struct Release {
                        StoreContext& context;
                        Operation& operation;
                        InFlight& tracker;
                        ~Release()
                        {
                            if (operation.holdsBusy)
                                context.busy = false;
                            tracker.release();
                        }
                    } release{*context, *operation, *tracker};
                    if (operation->error)
                        std::rethrow_exception(operation->error);
                    if (operation->early)
                        return std::move(*operation->early);
                    return finish(*context, *operation->plan, *operation->staged);
                });
    }

private:
    // Clears `busy` when a holding operation ends, by return or by error.
    struct BusyHold {
        explicit BusyHold(StoreContext& context) : context(context) { context.busy = true; }
        ~BusyHold() { context.busy = false; }
        StoreContext& context;
    };

    // Counts the suspending operations whose last half has not yet run, so
    // that the destructor does not free the pool under a staging step.
    // Released by the last half when it has run, or when the operation is
    // dropped without running it.
    struct InFlight {
        explicit InFlight(std::shared_ptr<std::atomic<int>> counter) : counter(std::move(counter)) { ++*this->counter; }
        ~InFlight() { release(); }
        void release()
        {
            if (released)
                return;
            released = true;
            --*counter;
            counter->notify_all();
        }
        std::shared_ptr<std::atomic<int>> counter;
        bool released = false;
    };

    QThreadPool pool_;
    std::shared_ptr<StoreContext> context_;
    std::shared_ptr<std::atomic<int>> inFlight_ = std::make_shared<std::atomic<int>>(0);
};

} // namespace tolvex
