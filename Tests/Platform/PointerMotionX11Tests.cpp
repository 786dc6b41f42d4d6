#include "Support/EventLoopWait.h"
#include "Velmarin/Platform/QtPresentationSystem.h"
#include "Velmarin/Platform/X11ButtonPresses.h"
#include "Velmarin/Platform/X11PointerMotion.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QProcess>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

void xdotool(const QStringList& arguments)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0);
}

// Counts the round trips the watcher makes.
struct CountedAsk {
    int asks = 0;
    X11PointerMotion::Ask ask()
    {
        return [this] {
            ++asks;
            return QCursor::pos();
        };
    }
};

TEST(PointerMotionX11, AsksOnlyAfterADeviceMovedThePointer)
{
    xdotool({QStringLiteral("mousemove"), QStringLiteral("400"), QStringLiteral("300")});
    CountedAsk counter;
    // No recheck within the test: only device motion makes it ask.
    X11PointerMotion motion(counter.ask(), 3600);
    ASSERT_TRUE(motion.isWatching());
    EXPECT_EQ(motion.position(), QPoint(400, 300));
    for (int call = 0; call < 20; ++call)
        EXPECT_EQ(motion.position(), QPoint(400, 300));
    EXPECT_EQ(counter.asks, 1);

    // Relative motion goes through a device, as a mouse's does.
    for (const QPoint step : {QPoint(40, 30), QPoint(-25, 10)}) {
        const QPoint target = motion.position() + step;
        xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("--"), QString::number(step.x()),
            QString::number(step.y())});
        EXPECT_TRUE(testing::waitUntil([&] { return motion.position() == target; }));
    }
    // Each move asked again, the resting pointer did not.
    const int asked = counter.asks;
    EXPECT_LE(asked, 1 + 2 * 2);
    QCoreApplication::processEvents();
    motion.position();
    EXPECT_EQ(counter.asks, asked);
}

TEST(PointerMotionX11, SeesAWarpedPointerAtTheRecheck)
{
    xdotool({QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("100")});
    X11PointerMotion motion({}, 0.1);
    ASSERT_TRUE(motion.isWatching());
    EXPECT_EQ(motion.position(), QPoint(100, 100));
    // xdotool places the pointer by a warp, which no device reports.
    xdotool({QStringLiteral("mousemove"), QStringLiteral("700"), QStringLiteral("500")});
    EXPECT_TRUE(testing::waitUntil([&] { return motion.position() == QPoint(700, 500); }));
}

// A resting pointer timer sleeps until a device moves the pointer; the
// motion wakes it at once, not at its next look for a warp.
TEST(PointerMotionX11, ADeviceMoveWakesARestingPointerTimer)
{
    xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("300")});
    QtPresentationSystem system([](const PresentationScreen&) { return FullScreen::State::desktop; });
    int ticks = 0;
    system.startPointerTimer(1.0 / 30, [&] {
        ++ticks;
        system.pointer();
    });
    ASSERT_TRUE(testing::waitUntil([&] { return ticks >= 2; }));
    system.setPointerTimerResting(true);
    ASSERT_TRUE(system.pointerTimerResting());
    xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("10"), QStringLiteral("10")});
    EXPECT_TRUE(testing::waitUntil([&] { return !system.pointerTimerResting(); }));
    const int woken = ticks;
    EXPECT_TRUE(testing::waitUntil([&] { return ticks > woken + 2; }));
    system.stopPointerTimer();
}

// A resting timer still looks for a warp, but a look that finds the pointer
// where it was ticks nothing; a warp ticks at the next look, and a screen
// that changes wakes the timer as a device motion does.
TEST(PointerMotionX11, ARestingTimerTicksOnlyWhenSomethingChanged)
{
    xdotool({QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("300")});
    QtPresentationSystem system([](const PresentationScreen&) { return FullScreen::State::desktop; });
    int ticks = 0;
    system.startPointerTimer(1.0 / 30, [&] {
        ++ticks;
        system.pointer();
        system.setPointerTimerResting(true);
    });
    ASSERT_TRUE(testing::waitUntil([&] { return system.pointerTimerResting(); }));
    const int rested = ticks;
    const std::int64_t asked = X11PointerMotion::askedCount();
    ASSERT_TRUE(testing::waitUntil([&] { return X11PointerMotion::askedCount() >= asked + 3; }));
    EXPECT_EQ(ticks, rested);

    xdotool({QStringLiteral("mousemove"), QStringLiteral("500"), QStringLiteral("400")});
    EXPECT_TRUE(testing::waitUntil([&] { return ticks > rested; }));
    ASSERT_TRUE(system.pointerTimerResting());
    QScreen* screen = QGuiApplication::primaryScreen();
    Q_EMIT screen->availableGeometryChanged(screen->availableGeometry());
    EXPECT_FALSE(system.pointerTimerResting());
    system.stopPointerTimer();
}

TEST(PointerMotionX11, ButtonPressesStaySelectedWhileMotionComesAndGoes)
{
    int presses = 0;
    X11ButtonPresses buttons([&] { ++presses; });
    ASSERT_TRUE(buttons.isWatching());
    {
        X11PointerMotion motion({}, 3600);
        ASSERT_TRUE(motion.isWatching());
        const QPoint start = motion.position();
        // The motion event takes raw motion out of the selection again.
        xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("5"), QStringLiteral("5")});
        EXPECT_TRUE(testing::waitUntil([&] { return motion.position() != start; }));
        xdotool({QStringLiteral("click"), QStringLiteral("1")});
        EXPECT_TRUE(testing::waitUntil([&] { return presses == 1; }));
    }
    // The left button only: a right click on the bare desktop opens the
    // window manager's menu, whose grab would swallow the next test's input.
    xdotool({QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(testing::waitUntil([&] { return presses == 2; }));
}

} // namespace
} // namespace tolvex
