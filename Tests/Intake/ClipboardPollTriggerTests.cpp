#include "Intake/CaptureTesting.h"
#include "Intake/IntakeTesting.h"

#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/ClipboardPollTrigger.h"

#include <QCoro/QCoroFuture>
#include <QFutureInterface>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

// A scripted clipboard whose reads wait, while `holding`, until released.
class HeldPasteboard : public ScriptedPasteboard {
public:
    QFuture<void> readItems(ItemsReader read) const override
    {
        if (!holding)
            return ScriptedPasteboard::readItems(std::move(read));
        auto promise = std::make_shared<QFutureInterface<void>>();
        promise->reportStarted();
        held.push_back([this, promise, read] {
            try {
                ScriptedPasteboard::readItems(read).waitForFinished();
            } catch (...) {
                promise->reportException(std::current_exception());
            }
            promise->reportFinished();
        });
        return promise->future();
    }
    void release()
    {
        holding = false;
        for (const auto& answer : std::exchange(held, {}))
            answer();
    }

    bool holding = false;
    mutable std::vector<std::function<void()>> held;
};

} // namespace

// A burst of notices makes one poll; notices during a poll make exactly one
// more after it, and a poll that could not look is tried again until it does.
TEST(ClipboardPollTriggerTest, ABurstMakesOnePollAndAChangeDuringItOneMore)
{
    int started = 0;
    bool looks = true;
    QFutureInterface<void> release;
    ClipboardPollTrigger trigger([&]() -> QCoro::Task<bool> {
        ++started;
        const bool answer = looks;
        release = QFutureInterface<void>();
        release.reportStarted();
        QFuture<void> held = release.future();
        co_await held;
        co_return answer;
    });
    const auto quiet = [] { spinFor(2 * int(ClipboardPollTrigger::settleTime.count()) + 50); };

    for (int i = 0; i < 5; ++i)
        trigger.request();
    ASSERT_TRUE(waitUntil([&] { return started == 1; }));
    quiet();
    EXPECT_EQ(started, 1);

    trigger.request();
    trigger.request();
    release.reportFinished();
    ASSERT_TRUE(waitUntil([&] { return started == 2; }));
    release.reportFinished();
    quiet();
    EXPECT_EQ(started, 2);

    looks = false;
    trigger.request();
    ASSERT_TRUE(waitUntil([&] { return started == 3; }));
    looks = true;
    release.reportFinished();
    ASSERT_TRUE(waitUntil([&] { return started == 4; }));
    release.reportFinished();
    quiet();
    EXPECT_EQ(started, 4);
}

// A timer's poll that sampled the clipboard just before a copy holds the
// intake while it reads; the notice of the copy is not lost to it.
TEST(ClipboardPollTriggerTest, AChangeWhileAnotherPollHoldsTheIntakeIsTakenOnceItIsFree)
{
    QTemporaryDir folder;
    DataRootBuilder builder(folder.path() + QStringLiteral("/Tolvex"));
    builder.writeState();
    MaterialStore store(builder.rootURL(), SystemFileOperations::shared(), roomyBudget());
    waitForResult(store.setClipboardPreferences(automatic(false)));
    auto pasteboard = std::make_shared<HeldPasteboard>();
    ClipboardImportService service(std::make_shared<SystemClipboardGateway>(pasteboard), store,
        [] { return unlimitedCapacity; }, [] { return true; });
    QStringList titles;
    service.onImported = [&](const QUuid& id, const WorkspaceSnapshot& snapshot) -> QCoro::Task<void> {
        titles.append(snapshot.findMaterial(id)->title);
        co_return;
    };
    QCoro::waitFor(service.start());
    ClipboardPollTrigger trigger(ClipboardPollTrigger::pollOf([&] { return &service; }));

    pasteboard->holding = true;
    pasteboard->set({textItem("first copy")});
    launchTask(service.poll(), {});
    ASSERT_TRUE(waitUntil([&] { return !pasteboard->held.empty(); }));
    pasteboard->set({textItem("second copy")});
    trigger.request();
    spinFor(2 * int(ClipboardPollTrigger::settleTime.count()) + 50);
    pasteboard->release();

    EXPECT_TRUE(waitUntil([&] { return titles.size() == 1; }));
    spinFor(100);
    ASSERT_EQ(titles.size(), 1);
    EXPECT_TRUE(titles.first().startsWith(QStringLiteral("second copy"))) << titles.first().toStdString();
}
