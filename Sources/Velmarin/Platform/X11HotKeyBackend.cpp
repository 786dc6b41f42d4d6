#include "Velmarin/Platform/X11HotKeyBackend.h"

#include "Velmarin/Platform/X11Connection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

namespace tolvex {

namespace {

constexpr xcb_keysym_t keysymT = 0x0074; // XK_t
constexpr uint16_t hotKeyModifiers = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
// CapsLock is Lock; NumLock sits on Mod2 on every common keymap.
constexpr std::array<uint16_t, 4> lockVariants = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
    XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint8_t badAccess = 10;
constexpr std::int32_t noServerCode = -1;

// The keycodes that type T on the current keymap.
std::vector<xcb_keycode_t> keycodesForT(xcb_connection_t* connection)
{
    std::vector<xcb_keycode_t> result;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    if (!symbols)
        return result;
    if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysymT)) {
        for (xcb_keycode_t* code = codes; *code != XCB_NO_SYMBOL; ++code)
            result.push_back(*code);
        std::free(codes);
    }
    xcb_key_symbols_free(symbols);
    return result;
}

class HotKeyFilter final : public QAbstractNativeEventFilter {
public:
    HotKeyFilter(xcb_window_t root, std::vector<xcb_keycode_t> keycodes, std::function<void()> action)
        : root_(root), keycodes_(std::move(keycodes)), action_(std::move(action))
    {
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
            return false;
        const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
        const uint16_t relevant = press->state
            & (XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4);
        const bool ours = press->event == root_ && relevant == hotKeyModifiers
            && std::find(keycodes_.begin(), keycodes_.end(), press->detail) != keycodes_.end();
        if (!ours)
            return false;
        // Never act inside the event dispatch: defer to the next turn.
        QTimer::singleShot(0, QCoreApplication::instance(), action_);
        return true;
    }

private:
    xcb_window_t root_;
    std::vector<xcb_keycode_t> keycodes_;
    std::function<void()> action_;
};

HotKey::Outcome install(std::function<void()> action)
{
    xcb_connection_t* connection = X11Connection::connection();
    const xcb_window_t root = X11Connection::rootWindow();
    if (!connection || !root || !QCoreApplication::instance())
        return {noServerCode, {}};
    auto filter = std::make_shared<HotKeyFilter>(root, keycodesForT(connection), std::move(action));
    QCoreApplication::instance()->installNativeEventFilter(filter.get());
    return {0, [filter] {
                if (auto* application = QCoreApplication::instance())
                    application->removeNativeEventFilter(filter.get());
            }};
}

void ungrab(xcb_connection_t* connection, xcb_window_t root, const std::vector<std::pair<xcb_keycode_t, uint16_t>>& grabs)
{
    for (const auto& [keycode, modifiers] : grabs)
        xcb_ungrab_key(connection, keycode, root, modifiers);
    xcb_flush(connection);
}

HotKey::Outcome registerKey(int keyCode, int modifiers)
{
    if (keyCode != HotKey::keyCode || modifiers != HotKey::modifiers)
        return {HotKey::parameterErrorCode, {}};
    xcb_connection_t* connection = X11Connection::connection();
    const xcb_window_t root = X11Connection::rootWindow();
    if (!connection || !root)
        return {noServerCode, {}};
    const std::vector<xcb_keycode_t> keycodes = keycodesForT(connection);
    if (keycodes.empty())
        return {HotKey::parameterErrorCode, {}};

    std::vector<std::pair<xcb_keycode_t, uint16_t>> held;
    std::int32_t failure = 0;
    for (const xcb_keycode_t keycode : keycodes) {
        for (const uint16_t lock : lockVariants) {
            const uint16_t mask = hotKeyModifiers | lock;
            xcb_generic_error_t* error = xcb_request_check(connection,
                xcb_grab_key_checked(connection, 1, root, mask, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
            if (error) {
                failure = error->error_code == badAccess ? HotKey::alreadyTakenCode : -static_cast<std::int32_t>(error->error_code);
                std::free(error);
                break;
            }
            held.emplace_back(keycode, mask);
        }
        if (failure != 0)
            break;
    }
    if (failure != 0) {
        // Half a grab would swallow the key in some lock states only.
        ungrab(connection, root, held);
        return {failure, {}};
    }
    return {0, [held] {
                if (xcb_connection_t* current = X11Connection::connection())
                    ungrab(current, X11Connection::rootWindow(), held);
            }};
}

} // namespace

HotKey::Backend x11HotKeyBackend()
{
    return {install, registerKey};
}

} // namespace tolvex
