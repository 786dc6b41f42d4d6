#include "Support/TestDesktopGuard.h"

#include "Support/EventLoopWait.h"

#include <QProcess>
#include <QStringList>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace tolvex::testing {

namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};

// One look from a connection of its own, as another program would see the
// desktop: a grab of ours that succeeds is given back at once.
std::string look()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return "no connection to the test desktop";
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    std::string held;
    const std::unique_ptr<xcb_grab_keyboard_reply_t, FreeDeleter> keyboard(xcb_grab_keyboard_reply(connection,
        xcb_grab_keyboard(connection, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr));
    if (!keyboard || keyboard->status != XCB_GRAB_STATUS_SUCCESS)
        held += "another client holds the keyboard; ";
    const std::unique_ptr<xcb_grab_pointer_reply_t, FreeDeleter> pointer(xcb_grab_pointer_reply(connection,
        xcb_grab_pointer(connection, 0, root, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
            XCB_CURRENT_TIME),
        nullptr));
    if (!pointer || pointer->status != XCB_GRAB_STATUS_SUCCESS)
        held += "another client holds the pointer; ";
    xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);

    const std::unique_ptr<xcb_query_keymap_reply_t, FreeDeleter> keymap(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    if (keymap) {
        for (int code = 0; code < 256; ++code) {
            if (keymap->keys[code / 8] & (1 << (code % 8)))
                held += "key " + std::to_string(code) + " is down; ";
        }
    }
    const std::unique_ptr<xcb_query_pointer_reply_t, FreeDeleter> where(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
    const uint16_t buttons = XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 | XCB_KEY_BUT_MASK_BUTTON_3;
    if (where && (where->mask & buttons))
        held += "a pointer button is down; ";
    xcb_disconnect(connection);
    return held;
}

} // namespace

std::string TestDesktopGuard::whatHoldsTheDesktop()
{
    std::string held;
    // A menu that is closing gives its grab back within a few events.
    waitUntil([&] { return (held = look()).empty(); }, 2000);
    return held;
}

void TestDesktopGuard::OnTestEnd(const ::testing::TestInfo& test)
{
    const std::string held = whatHoldsTheDesktop();
    if (held.empty())
        return;
    leftInUse_ = true;
    std::fprintf(stderr, "%s.%s left the test desktop in use: %s\n", test.test_suite_name(), test.name(),
        held.c_str());
    // Escape closes a menu; the release of every button and key ends a
    // press that was never finished. The next test then starts clean.
    QStringList release{QStringLiteral("key"), QStringLiteral("Escape")};
    for (const char* button : {"1", "2", "3"})
        release << QStringLiteral("mouseup") << QString::fromLatin1(button);
    QProcess::execute(QStringLiteral("xdotool"), release);
}

} // namespace tolvex::testing
