#pragma once

#include <gtest/gtest.h>

#include <string>

namespace tolvex::testing {

// The x11 tests share one desktop, one keyboard and one pointer, run one
// after another. A test that leaves a grab behind (a window manager's menu
// opened by a right click on the bare desktop, a popup left open) or a key
// or button held down swallows or bends the input of every test after it,
// which then fails far from the cause. After each test this guard checks
// that the desktop is as a test found it, names the test that left it
// otherwise, releases what it can, and makes the run fail.
class TestDesktopGuard final : public ::testing::EmptyTestEventListener {
public:
    void OnTestEnd(const ::testing::TestInfo& test) override;

    // Whether any test left the desktop in use.
    bool leftInUse() const { return leftInUse_; }

    // What holds the desktop now, empty when nothing does; waits a moment
    // for a grab that is being released.
    static std::string whatHoldsTheDesktop();

private:
    bool leftInUse_ = false;
};

} // namespace tolvex::testing
