#include "Support/EventLoopWait.h"
#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Common/MainTask.h"

#include <QCoro/QCoroFuture>
#include <QFuture>
#include <QPromise>

#include <gtest/gtest.h>

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

} // namespace
} // namespace tolvex
