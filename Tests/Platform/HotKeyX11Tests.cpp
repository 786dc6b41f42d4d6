#include "Support/EventLoopWait.h"
#include "Velmarin/Platform/X11Connection.h"
#include "Velmarin/Platform/X11HotKeyBackend.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

namespace tolvex {
namespace {

// Another X client holding Control+Alt+T, as a second program would.
class ForeignGrab {
public:
    ForeignGrab() : connection_(xcb_connect(nullptr, nullptr))
    {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection_);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, 0x0074);
        keycode_ = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        xcb_generic_error_t* error = xcb_request_check(connection_,
            xcb_grab_key_checked(connection_, 1, root_, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, keycode_,
                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        held_ = error == nullptr;
        std::free(error);
    }
    ~ForeignGrab() { xcb_disconnect(connection_); }
    bool held() const { return held_ && keycode_ != 0; }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_keycode_t keycode_ = 0;
    bool held_ = false;
};

TEST(HotKeyX11, RegistersReactsToThePressAndReportsAForeignGrab)
{
    ASSERT_NE(X11Connection::connection(), nullptr);
    {
        auto foreign = std::make_unique<ForeignGrab>();
        ASSERT_TRUE(foreign->held());
        HotKey blocked(x11HotKeyBackend(), [] {});
        blocked.retry();
        EXPECT_EQ(blocked.status(), HotKey::Status::conflict);
        foreign.reset();
        blocked.retry();
        EXPECT_EQ(blocked.status(), HotKey::Status::registered);
    }

    int pressed = 0;
    HotKey hotKey(x11HotKeyBackend(), [&] { ++pressed; });
    hotKey.retry();
    ASSERT_EQ(hotKey.status(), HotKey::Status::registered);
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+alt+t")}), 0);
    EXPECT_TRUE(testing::waitUntil([&] { return pressed == 1; }));
}

} // namespace
} // namespace tolvex
