#include "Velmarin/Platform/X11Connection.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>

namespace tolvex::X11Connection {

xcb_connection_t* connection()
{
    auto* application = qGuiApp;
    if (!application || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* native = application->nativeInterface<QNativeInterface::QX11Application>();
    return native ? native->connection() : nullptr;
}

xcb_window_t rootWindow()
{
    xcb_connection_t* c = connection();
    if (!c)
        return 0;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return screen ? screen->root : 0;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie
        = xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return 0;
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

} // namespace tolvex::X11Connection
