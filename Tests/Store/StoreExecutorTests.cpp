#include "StoreTesting.h"

#include <QCoro/QCoroTask>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

// A gate a staging step waits at until the test opens it.
struct Latch {
    QSemaphore entered;
    QSemaphore opened;

    void waitInside()
    {
        entered.release();
        opened.acquire();
    }
    void waitUntilInside() { entered.acquire(); }
    void open() { opened.release(); }
};

class StoreExecutorTest : public StoreTestCase {
protected:
    std::shared_ptr<StoreContext> context =
        std::make_shared<StoreContext>(rootURL, SystemFileOperations::shared(), roomyBudget());
    std::unique_ptr<StoreExecutor> executor = std::make_unique<StoreExecutor>(context);

    bool busyNow() { return waitForResult(executor->run([](StoreContext& c) { return c.busy; })); }
};

struct Plan {
    int value = 0;
};
using Decision = StoreExecutor::Decision<int, Plan>;

} // namespace

TEST_F(StoreExecutorTest, CallsRunOneAtATimeInTheOrderTheyWereSent)
{
    auto seen = std::make_shared<std::vector<int>>();
    auto running = std::make_shared<std::atomic<int>>(0);
    auto overlapped = std::make_shared<std::atomic<bool>>(false);
    QList<QFuture<void>> futures;
    for (int i = 0; i < 200; ++i) {
        futures.append(executor->run([=](StoreContext&) {
            if (running->fetch_add(1) != 0)
                overlapped->store(true);
            seen->push_back(i);
            QThread::yieldCurrentThread();
            running->fetch_sub(1);
        }));
    }
    for (QFuture<void>& future : futures)
        waitForResult(future);
    ASSERT_EQ(seen->size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ((*seen)[static_cast<std::size_t>(i)], i);
    EXPECT_FALSE(overlapped->load());
}

TEST_F(StoreExecutorTest, ErrorsLeaveTheFutureAsTheyWereThrown)
{
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(executor->run([](StoreContext&) -> int { throw StoreError::notFound(); })); },
        StoreError::Code::notFound));
    // A file error is not a QException: it must still arrive as std::system_error.
    EXPECT_TRUE(throwsFileError(
        [&] {
            waitForResult(executor->run([](StoreContext&) { throw std::system_error(ENOENT, std::generic_category()); }));
        },
        std::errc::no_such_file_or_directory));

    // The same through a coroutine on the GUI thread.
    auto task = [&]() -> QCoro::Task<int> {
        try {
            co_await awaitResult(
                executor->run([](StoreContext&) -> int { throw std::system_error(EACCES, std::generic_category()); }));
        } catch (const std::system_error& error) {
            co_return error.code().value();
        }
        co_return 0;
    };
    EXPECT_EQ(QCoro::waitFor(task()), EACCES);
}

TEST_F(StoreExecutorTest, TestedAndHoldingCallsAreRefusedWhileBusyButPlainCallsRun)
{
    context->busy = true; // as if another operation held the store
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(executor->runTested([](StoreContext&) { return 1; })); },
        StoreError::Code::operationInProgress));
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(executor->runHolding([](StoreContext&) { return 1; })); },
        StoreError::Code::operationInProgress));
    EXPECT_EQ(waitForResult(executor->run([](StoreContext&) { return 7; })), 7);
    EXPECT_TRUE(busyNow()) << "a refused call must not release another operation's hold";

    waitForResult(executor->run([](StoreContext& c) { c.busy = false; }));
    EXPECT_TRUE(waitForResult(executor->runHolding([](StoreContext& c) { return c.busy; })));
    EXPECT_FALSE(busyNow());
    EXPECT_THROW(waitForResult(executor->runHolding([](StoreContext&) -> int { throw StoreError::invalidEdit(); })),
        StoreError);
    EXPECT_FALSE(busyNow()) << "an error releases the hold";
}

TEST_F(StoreExecutorTest, CallsQueuedWhileStagingRunAndAreRefused)
{
    Latch latch;
    auto finishedOn = std::make_shared<std::atomic<bool>>(false);
    QFuture<int> suspended = executor->runSuspending<int, Plan, int>(
        [](StoreContext& c) -> Decision {
            EXPECT_TRUE(c.busy);
            return Plan{20};
        },
        [&latch](const Plan& plan) {
            latch.waitInside();
            return plan.value + 1;
        },
        [finishedOn](StoreContext& c, Plan& plan, int& staged) {
            EXPECT_TRUE(c.busy);
            finishedOn->store(true);
            return plan.value + staged;
        });
    latch.waitUntilInside();

    // Meanwhile the actor is free: tested calls are refused, untested ones answer.
    EXPECT_TRUE(busyNow());
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(executor->runTested([](StoreContext&) { return 0; })); },
        StoreError::Code::operationInProgress));
    QFuture<int> second = executor->runSuspending<int, Plan, int>(
        [](StoreContext&) -> Decision { return Plan{1}; }, [](const Plan&) { return 0; },
        [](StoreContext&, Plan&, int&) { return 0; });
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(second); }, StoreError::Code::operationInProgress));
    EXPECT_TRUE(busyNow()) << "the refused operation must leave the running one's hold alone";
    EXPECT_FALSE(finishedOn->load());

    latch.open();
    EXPECT_EQ(waitForResult(suspended), 41);
    EXPECT_FALSE(busyNow());
}

TEST_F(StoreExecutorTest, EveryWayOutOfASuspendingOperationReleasesTheStore)
{
    auto staged = std::make_shared<std::atomic<int>>(0);
    auto finished = std::make_shared<std::atomic<int>>(0);
    auto stage = [staged](const Plan& plan) {
        ++*staged;
        if (plan.value < 0)
            throw std::system_error(ENOSPC, std::generic_category());
        return plan.value;
    };
    auto finish = [finished](StoreContext&, Plan&, int& value) {
        ++*finished;
        if (value == 99)
            throw StoreError::recoveryRequired();
        return value;
    };

    // Ends early: no staging, no finishing, store free again.
    EXPECT_EQ(waitForResult(executor->runSuspending<int, Plan, int>([](StoreContext&) -> Decision { return 5; }, stage, finish)), 5);
    EXPECT_EQ(staged->load(), 0);
    EXPECT_EQ(finished->load(), 0);
    EXPECT_FALSE(busyNow());

    // The first half fails after taking the store.
    EXPECT_TRUE(throwsStoreError(
        [&] {
            waitForResult(executor->runSuspending<int, Plan, int>(
                [](StoreContext&) -> Decision { throw StoreError::invalidSource(); }, stage, finish));
        },
        StoreError::Code::invalidSource));
    EXPECT_FALSE(busyNow());

    // Staging fails: its error arrives unwrapped, the last half does not run.
    EXPECT_TRUE(throwsFileError(
        [&] {
            waitForResult(executor->runSuspending<int, Plan, int>(
                [](StoreContext&) -> Decision { return Plan{-1}; }, stage, finish));
        },
        std::errc::no_space_on_device));
    EXPECT_EQ(finished->load(), 0);
    EXPECT_FALSE(busyNow());

    // The last half fails.
    EXPECT_TRUE(throwsStoreError(
        [&] {
            waitForResult(executor->runSuspending<int, Plan, int>(
                [](StoreContext&) -> Decision { return Plan{99}; }, stage, finish));
        },
        StoreError::Code::recoveryRequired));
    EXPECT_FALSE(busyNow());
}

TEST_F(StoreExecutorTest, DestroyingTheStoreWaitsForASuspendedOperation)
{
    Latch latch;
    auto finished = std::make_shared<std::atomic<bool>>(false);
    QFuture<int> future = executor->runSuspending<int, Plan, int>(
        [](StoreContext&) -> Decision { return Plan{1}; },
        [&latch](const Plan& plan) {
            latch.waitInside();
            return plan.value;
        },
        [finished](StoreContext&, Plan&, int& value) {
            finished->store(true);
            return value;
        });
    latch.waitUntilInside();
    std::thread opener([&] { latch.open(); });
    executor.reset();
    opener.join();
    EXPECT_TRUE(finished->load());
    EXPECT_EQ(waitForResult(future), 1);
}
