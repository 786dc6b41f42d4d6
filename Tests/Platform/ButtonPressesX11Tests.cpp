#include "Support/EventLoopWait.h"
#include "Velmarin/Platform/X11ButtonPresses.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

TEST(ButtonPressesX11, SeesLeftAndRightPressesOnAnyWindowButNotTheMiddleButton)
{
    int presses = 0;
    X11ButtonPresses watch([&] { ++presses; });
    ASSERT_TRUE(watch.isWatching());
    for (const char* button : {"1", "2", "3"}) {
        ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QStringLiteral("640"), QStringLiteral("5"), QStringLiteral("click"),
                          QString::fromLatin1(button)}),
            0);
    }
    EXPECT_TRUE(testing::waitUntil([&] { return presses >= 2; }));
    // Give a stray middle press the same chance to arrive before counting.
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(testing::waitUntil([&] { return presses >= 3; }));
    EXPECT_EQ(presses, 3);
}

} // namespace
} // namespace tolvex
