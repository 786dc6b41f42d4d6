#include "Support/EventLoopWait.h"
#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Common/MainTask.h"

#include <QCoro/QCoroFuture>
#include <QFuture>
#include <QObject>
#include <QPromise>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace tolvex {
namespace {

using testing::waitUntil;

TEST(MainTaskTests, LaunchedTaskReportsWhatItThrowsAfterSuspending)
{
    QPromise<int> promise;
    promise.start();
    QFuture<int> future = promise.future();
    std::optional<StoreError::Code> reported;
    bool reachedEnd = false;
    launchTask(
        [](QFuture<int> future, bool& reachedEnd) -> QCoro::Task<void> {
            const int value = co_await future;
            if (value == 0)
                throw StoreError::notFound();
            reachedEnd = true;
        }(future, reachedEnd),
        [&](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const StoreError& storeError) {
                reported = storeError.code();
            }
        });
    EXPECT_FALSE(reported); // still waiting for the future
    promise.addResult(0);
    promise.finish();
    ASSERT_TRUE(waitUntil([&] { return reported.has_value(); }));
    EXPECT_EQ(*reported, StoreError::Code::notFound);
    EXPECT_FALSE(reachedEnd);
}

TEST(MainTaskTests, GuardFailsWhenOwnerGoesOrACounterMoves)
{
    struct Case {
        const char* name;
        bool deleteOwner;
        int moveCounter; // -1 none, else index
        bool expected;
    };
    const Case cases[] = {
        {"untouched", false, -1, true},
        {"owner gone", true, -1, false},
        {"first counter moved", false, 0, false},
        {"second counter moved", false, 1, false},
    };
    for (const Case& c : cases) {
        auto owner = std::make_unique<QObject>();
        std::uint64_t counters[2] = {3, 9};
        const TaskGuard guard(owner.get(), {&counters[0], &counters[1]});
        if (c.moveCounter >= 0)
            ++counters[c.moveCounter];
        if (c.deleteOwner)
            owner.reset();
        EXPECT_EQ(guard.holds(), c.expected) << c.name;
    }
}

} // namespace
} // namespace tolvex
