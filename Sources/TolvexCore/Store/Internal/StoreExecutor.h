#pragma once

#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Model/StoreError.h"

#include <QFuture>
#include <QFutureInterface>
#include <QThreadPool>

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
// The jobs are plain pool jobs settling a QFutureInterface, not
// QtConcurrent::run or QFuture::then: those register their runnable with the
// future, and a caller blocking in waitForFinished() or result() would take a
// job that has not started yet out of the queue and run it on its own thread,
// beside the actor. An error is stored as the exception that was thrown, so a
// file error arrives as std::system_error (see FutureResult.h).
//
// Every operation first makes sure the store owns the data root
// (StoreContext::holdRoot), and so does the second half of a suspending one
// before it writes what was staged. Four ways to run an operation, after the
// busy rule:
// - run: does not look at `busy` (payload access, clipboard settings);
// - runTested: refused with operationInProgress while `busy` is set;
// - runHolding: tested, then holds `busy` until it ends, without suspending;
// - runSuspending: tested and held across one staging step that runs on the
//   shared pool, while calls queued meanwhile run (and are refused).
class StoreExecutor {
public:
    explicit StoreExecutor(std::shared_ptr<StoreContext> context);
    // Waits for every queued operation, suspended ones included.
    ~StoreExecutor();

    StoreExecutor(const StoreExecutor&) = delete;
    StoreExecutor& operator=(const StoreExecutor&) = delete;

    template <typename Work>
    auto run(Work&& work) -> QFuture<std::invoke_result_t<Work&, StoreContext&>>
    {
        using Result = std::invoke_result_t<Work&, StoreContext&>;
        QFutureInterface<Result> promise;
        promise.reportStarted();
        const QFuture<Result> future = promise.future();
        pool_.start([context = context_, promise, work = std::forward<Work>(work)]() mutable {
            settle(promise, [&] {
                context->holdRoot();
                return work(*context);
            });
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

    // prepare(context) -> Decision<Result, Plan>   on the actor with `busy` held;
    // stage(const Plan&) -> Staged                   on the shared pool; touches no store state;
    // finish(context, Plan&, Staged&) -> Result      on the actor again, `busy` still held.
    // `busy` is tested and taken before prepare. It is released when prepare
    // ends early or throws, and after finish in every case; an error of the
    // staging step skips finish and still releases it. A call refused because
    // another operation holds `busy` never releases that other hold.
    template <typename Result, typename Plan, typename Staged>
    QFuture<Result> runSuspending(std::function<Decision<Result, Plan>(StoreContext&)> prepare,
        std::function<Staged(const Plan&)> stage, std::function<Result(StoreContext&, Plan&, Staged&)> finish)
    {
        struct Operation {
            std::function<Decision<Result, Plan>(StoreContext&)> prepare;
            std::function<Staged(const Plan&)> stage;
            std::function<Result(StoreContext&, Plan&, Staged&)> finish;
            QFutureInterface<Result> promise;
            InFlight inFlight;
            std::optional<Plan> plan;
            std::optional<Staged> staged;
            std::exception_ptr stageError;
        };
        auto operation = std::make_shared<Operation>(
            Operation{std::move(prepare), std::move(stage), std::move(finish), {}, InFlight(inFlight_), {}, {}, {}});
        operation->promise.reportStarted();
        const QFuture<Result> future = operation->promise.future();

        QThreadPool* actor = &pool_;
        pool_.start([context = context_, operation, actor] {
            bool holdsBusy = false;
            std::optional<Result> early;
            try {
                context->holdRoot();
                context->requireIdle();
                context->busy = holdsBusy = true;
                Decision<Result, Plan> decision = operation->prepare(*context);
                if (Plan* plan = std::get_if<Plan>(&decision))
                    operation->plan.emplace(std::move(*plan));
                else
                    early.emplace(std::move(std::get<Result>(decision)));
            } catch (...) {
                if (holdsBusy)
                    context->busy = false;
                operation->promise.reportException(std::current_exception());
                conclude(*operation);
                return;
            }
            if (early) {
                context->busy = false;
                operation->promise.reportResult(std::move(*early));
                conclude(*operation);
                return;
            }
            // Staging runs off the actor; the actor serves the calls queued meanwhile.
            QThreadPool::globalInstance()->start([context, operation, actor]() mutable {
                try {
                    operation->staged.emplace(operation->stage(*operation->plan));
                } catch (...) {
                    operation->stageError = std::current_exception();
                }
                // The second half queues behind every call sent while staging
                // ran. It takes the context along: this job may end only after
                // the operation answered and the store was destroyed, and must
                // not keep the context (and the data root's lock) past it.
                actor->start([context = std::move(context), operation = std::move(operation)] {
                    settle(operation->promise, [&]() -> Result {
                        BusyHold hold(*context, /*alreadyHeld=*/true);
                        // The root may have been moved or replaced while staging ran.
                        context->holdRoot();
                        if (operation->stageError)
                            std::rethrow_exception(operation->stageError);
                        return operation->finish(*context, *operation->plan, *operation->staged);
                    });
                    conclude(*operation);
                });
            });
        });
        return future;
    }

private:
    // Clears `busy` when a holding operation ends, by return or by error.
    struct BusyHold {
        explicit BusyHold(StoreContext& context, bool alreadyHeld = false) : context(context)
        {
            if (!alreadyHeld)
                context.busy = true;
        }
        ~BusyHold() { context.busy = false; }
        StoreContext& context;
    };

    // Counts the suspending operations not yet concluded, so that the
    // destructor does not free the pool under a staging step.
    struct InFlight {
        explicit InFlight(std::shared_ptr<std::atomic<int>> counter) : counter(std::move(counter)) { ++*this->counter; }
        InFlight(InFlight&& other) noexcept : counter(std::move(other.counter)) {}
        InFlight(const InFlight&) = delete;
        ~InFlight() { release(); }
        void release()
        {
            if (!counter)
                return;
            --*counter;
            counter->notify_all();
            counter.reset();
        }
        std::shared_ptr<std::atomic<int>> counter;
    };

    template <typename Result, typename Work>
    static void settle(QFutureInterface<Result>& promise, Work&& work)
    {
        try {
            if constexpr (std::is_void_v<Result>) {
                work();
            } else {
                promise.reportResult(work());
            }
        } catch (...) {
            promise.reportException(std::current_exception());
        }
        promise.reportFinished();
    }

    template <typename Operation>
    static void conclude(Operation& operation)
    {
        operation.promise.reportFinished();
        operation.inFlight.release();
    }

    QThreadPool pool_;
    std::shared_ptr<StoreContext> context_;
    std::shared_ptr<std::atomic<int>> inFlight_ = std::make_shared<std::atomic<int>>(0);
};

} // namespace tolvex
