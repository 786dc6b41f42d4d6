#include "Intake/CaptureTesting.h"

#include "Velmarin/Intake/ClipboardPollTrigger.h"

#include <QCoro/QCoroFuture>
#include <QFutureInterface>

#include <gtest/gtest.h>

using namespace tolvex;
using namespace tolvex::testing;

// A burst of notices makes one poll; notices during a poll make exactly one
// more after it, and none are lost or multiplied.
TEST(ClipboardPollTriggerTest, ABurstMakesOnePollAndAChangeDuringItOneMore)
{
    int started = 0;
    QFutureInterface<void> release;
    ClipboardPollTrigger trigger([&]() -> QCoro::Task<void> {
        ++started;
        release = QFutureInterface<void>();
        release.reportStarted();
        QFuture<void> held = release.future();
        co_await held;
    });
    const auto finishPoll = [&] {
        release.reportFinished();
        spinFor(2 * int(ClipboardPollTrigger::settleTime.count()) + 50);
    };

    for (int i = 0; i < 5; ++i)
        trigger.request();
    ASSERT_TRUE(waitUntil([&] { return started == 1; }));
    spinFor(2 * int(ClipboardPollTrigger::settleTime.count()) + 50);
    EXPECT_EQ(started, 1);

    trigger.request();
    trigger.request();
    finishPoll();
    ASSERT_TRUE(waitUntil([&] { return started == 2; }));
    finishPoll();
    EXPECT_EQ(started, 2);

    trigger.request();
    ASSERT_TRUE(waitUntil([&] { return started == 3; }));
    finishPoll();
    EXPECT_EQ(started, 3);
}
