#include "Velmarin/Platform/X11PanelWindowSystem.h"

#include "Velmarin/Platform/X11Connection.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace tolvex {

std::shared_ptr<PanelWindowSystem> makePanelWindowSystem()
{
    return std::make_shared<X11PanelWindowSystem>();
}

X11PanelWindowSystem::X11PanelWindowSystem()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    connection_ = x11->connection();
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    // Qt opens the display's default screen; its root is the one to ask.
    const char* display = std::getenv("DISPLAY");
    if (display) {
        const char* dot = std::strrchr(display, '.');
        const char* colon = std::strrchr(display, ':');
        if (dot && colon && dot > colon)
            screenNumber_ = std::atoi(dot + 1);
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber_ && it.rem; ++i)
        xcb_screen_next(&it);
    if (it.rem)
        root_ = it.data->root;
    xcb_shape_query_version_reply_t* version =
        xcb_shape_query_version_reply(connection_, xcb_shape_query_version(connection_), nullptr);
    hasShape_ = version != nullptr;
    std::free(version);
}

std::uint32_t X11PanelWindowSystem::atom(const char* name) const
{
    const QByteArray key(name);
    if (const auto known = atoms_.constFind(key); known != atoms_.constEnd())
        return *known;
    const std::uint32_t interned = X11Connection::atom(connection_, name);
    if (interned != 0)
        atoms_.insert(key, interned);
    return interned;
}

void X11PanelWindowSystem::setInputRegion(QWindow& window, const QRegion& region)
{
    if (!connection_ || !hasShape_)
        return;
    // The X window is in device pixels.
    const qreal scale = window.devicePixelRatio();
    std::vector<xcb_rectangle_t> rects;
    for (const QRect& rect : region) {
        const QRect device(QPoint(qFloor(rect.x() * scale), qFloor(rect.y() * scale)),
            QPoint(qCeil((rect.right() + 1) * scale) - 1, qCeil((rect.bottom() + 1) * scale) - 1));
        rects.push_back({static_cast<std::int16_t>(device.x()), static_cast<std::int16_t>(device.y()),
            static_cast<std::uint16_t>(device.width()), static_cast<std::uint16_t>(device.height())});
    }
    xcb_shape_rectangles(connection_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
        static_cast<xcb_window_t>(window.winId()), 0, 0, static_cast<std::uint32_t>(rects.size()), rects.data());
    xcb_flush(connection_);
}

bool X11PanelWindowSystem::hasCompositor() const
{
    if (!connection_)
        return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(screenNumber_);
    const std::uint32_t selection = atom(name.c_str());
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection), nullptr);
    const bool owned = reply && reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

PanelWindowSystem::WindowID X11PanelWindowSystem::activeWindow() const
{
    if (!connection_ || !root_)
        return 0;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_,
        xcb_get_property(connection_, 0, root_, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1), nullptr);
    WindowID window = 0;
    if (reply && reply->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(reply) >= 4)
        std::memcpy(&window, xcb_get_property_value(reply), sizeof window);
    std::free(reply);
    return window;
}

bool X11PanelWindowSystem::activate(WindowID window)
{
    if (!connection_ || !root_ || window == 0)
        return false;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("_NET_ACTIVE_WINDOW");
    // Source 2: a pager-like request on the user's behalf, which window
    // managers honour without focus-stealing prevention.
    event.data.data32[0] = 2;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, root_,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, reinterpret_cast<const char*>(&event));
    xcb_flush(connection_);
    return true;
}

void X11PanelWindowSystem::takeFocus(QWindow& window)
{
    if (!connection_)
        return;
    // The current time: a timestamp of our last event would be older than
    // the window manager's last focus change, and the server would ignore it.
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, static_cast<xcb_window_t>(window.winId()),
        XCB_CURRENT_TIME);
    xcb_flush(connection_);
}

void X11PanelWindowSystem::showOnAllDesktops(QWindow& window)
{
    if (!connection_)
        return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    const std::uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1,
        &allDesktops);
    const std::uint32_t states[] = {atom("_NET_WM_STATE_STICKY"), atom("_NET_WM_STATE_SKIP_TASKBAR"),
        atom("_NET_WM_STATE_SKIP_PAGER"), atom("_NET_WM_STATE_ABOVE")};
    if (window.isVisible()) {
        // A mapped window changes state only through the window manager.
        for (const std::uint32_t state : states) {
            xcb_client_message_event_t event{};
            event.response_type = XCB_CLIENT_MESSAGE;
            event.format = 32;
            event.window = id;
            event.type = atom("_NET_WM_STATE");
            event.data.data32[0] = 1; // add
            event.data.data32[1] = state;
            event.data.data32[3] = 2;
            xcb_send_event(connection_, 0, root_,
                XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                reinterpret_cast<const char*>(&event));
        }
        xcb_client_message_event_t desktop{};
        desktop.response_type = XCB_CLIENT_MESSAGE;
        desktop.format = 32;
        desktop.window = id;
        desktop.type = atom("_NET_WM_DESKTOP");
        desktop.data.data32[0] = allDesktops;
        desktop.data.data32[1] = 2;
        xcb_send_event(connection_, 0, root_,
            XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            reinterpret_cast<const char*>(&desktop));
    } else {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
            static_cast<std::uint32_t>(std::size(states)), states);
    }
    xcb_flush(connection_);
}

} // namespace tolvex
