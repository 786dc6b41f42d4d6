#include "Velmarin/Platform/X11DisplaySpaces.h"

#include "Velmarin/Platform/X11Connection.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QSet>
#include <QVariantList>
#include <QVariantMap>
#include <QWindow>

#include <cstdlib>
#include <memory>
#include <vector>

namespace tolvex::X11DisplaySpaces {

namespace {

struct Atoms {
    xcb_atom_t supportingCheck = 0;
    xcb_atom_t currentDesktop = 0;
    xcb_atom_t stacking = 0;
    xcb_atom_t wmDesktop = 0;
    xcb_atom_t wmState = 0;
    xcb_atom_t fullscreen = 0;
    xcb_atom_t hidden = 0;
    xcb_atom_t windowType = 0;
    xcb_atom_t typeDock = 0;
    xcb_atom_t typeDesktop = 0;

    bool complete() const
    {
        return supportingCheck && currentDesktop && stacking && wmDesktop && wmState && fullscreen && hidden
            && windowType && typeDock && typeDesktop;
    }
};

const Atoms& atoms(xcb_connection_t* connection)
{
    // Qt keeps one connection for the life of the application.
    static const Atoms cached = [connection] {
        Atoms a;
        a.supportingCheck = X11Connection::atom(connection, "_NET_SUPPORTING_WM_CHECK");
        a.currentDesktop = X11Connection::atom(connection, "_NET_CURRENT_DESKTOP");
        a.stacking = X11Connection::atom(connection, "_NET_CLIENT_LIST_STACKING");
        a.wmDesktop = X11Connection::atom(connection, "_NET_WM_DESKTOP");
        a.wmState = X11Connection::atom(connection, "_NET_WM_STATE");
        a.fullscreen = X11Connection::atom(connection, "_NET_WM_STATE_FULLSCREEN");
        a.hidden = X11Connection::atom(connection, "_NET_WM_STATE_HIDDEN");
        a.windowType = X11Connection::atom(connection, "_NET_WM_WINDOW_TYPE");
        a.typeDock = X11Connection::atom(connection, "_NET_WM_WINDOW_TYPE_DOCK");
        a.typeDesktop = X11Connection::atom(connection, "_NET_WM_WINDOW_TYPE_DESKTOP");
        return a;
    }();
    return cached;
}

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

Reply<xcb_get_property_reply_t> propertyReply(xcb_connection_t* connection, xcb_get_property_cookie_t cookie)
{
    return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(connection, cookie, nullptr));
}

// The 32-bit values of a property, empty when it is missing or of another format.
std::vector<uint32_t> values32(const xcb_get_property_reply_t* reply)
{
    if (!reply || reply->format != 32)
        return {};
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    return std::vector<uint32_t>(data, data + xcb_get_property_value_length(reply) / 4);
}

xcb_get_property_cookie_t askProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
    xcb_atom_t type, uint32_t length = 64)
{
    return xcb_get_property(connection, 0, window, property, type, 0, length);
}

struct Client {
    xcb_get_property_cookie_t desktop;
    xcb_get_property_cookie_t state;
    xcb_get_property_cookie_t type;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
};

constexpr uint32_t allDesktops = 0xFFFFFFFF;
constexpr qint64 reuseMilliseconds = 250;

} // namespace

namespace {

QVariant ask()
{
    xcb_connection_t* connection = X11Connection::connection();
    const xcb_window_t root = X11Connection::rootWindow();
    if (!connection || !root)
        return {};
    const Atoms& a = atoms(connection);
    if (!a.complete())
        return {};

    const auto check = askProperty(connection, root, a.supportingCheck, XCB_ATOM_WINDOW, 1);
    const auto desktop = askProperty(connection, root, a.currentDesktop, XCB_ATOM_CARDINAL, 1);
    const auto stacking = askProperty(connection, root, a.stacking, XCB_ATOM_WINDOW, 4096);
    const auto checkReply = propertyReply(connection, check);
    const auto desktopReply = propertyReply(connection, desktop);
    const auto stackingReply = propertyReply(connection, stacking);
    if (values32(checkReply.get()).empty() || !stackingReply || stackingReply->type == XCB_NONE)
        return {};
    const std::vector<uint32_t> currentDesktop = values32(desktopReply.get());
    const std::vector<uint32_t> windows = values32(stackingReply.get());

    QSet<uint32_t> ownWindows;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->handle())
            ownWindows.insert(static_cast<uint32_t>(window->winId()));
    }

    // Every question at once, then every answer: two round trips in all.
    std::vector<Client> clients;
    clients.reserve(windows.size());
    for (const uint32_t window : windows) {
        clients.push_back({askProperty(connection, window, a.wmDesktop, XCB_ATOM_CARDINAL, 1),
            askProperty(connection, window, a.wmState, XCB_ATOM_ATOM),
            askProperty(connection, window, a.windowType, XCB_ATOM_ATOM),
            xcb_get_geometry(connection, window), xcb_translate_coordinates(connection, window, root, 0, 0)});
    }

    struct Visible {
        QRect frame;
        bool fullScreen;
    };
    std::vector<Visible> topDown;
    for (std::size_t index = windows.size(); index-- > 0;) {
        const Client& client = clients[index];
        const auto desktopOf = propertyReply(connection, client.desktop);
        const auto state = propertyReply(connection, client.state);
        const auto type = propertyReply(connection, client.type);
        const Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(connection, client.geometry, nullptr));
        const Reply<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(connection, client.origin, nullptr));
        if (!geometry || !origin || ownWindows.contains(windows[index]))
            continue;
        const std::vector<uint32_t> onDesktop = values32(desktopOf.get());
        if (!onDesktop.empty() && !currentDesktop.empty() && onDesktop.front() != allDesktops
            && onDesktop.front() != currentDesktop.front())
            continue;
        bool skip = false;
        for (const uint32_t kind : values32(type.get()))
            skip = skip || kind == a.typeDock || kind == a.typeDesktop;
        bool fullScreen = false;
        for (const uint32_t flag : values32(state.get())) {
            skip = skip || flag == a.hidden;
            fullScreen = fullScreen || flag == a.fullscreen;
        }
        if (!skip)
            topDown.push_back({QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height), fullScreen});
    }

    QVariantList displays;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const qreal ratio = screen->devicePixelRatio();
        const QRect logical = screen->geometry();
        const QRect native(QPoint(qRound(logical.x() * ratio), qRound(logical.y() * ratio)),
            QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio)));
        int type = 0;
        for (const Visible& window : topDown) {
            if (native.contains(window.frame.center())) {
                type = window.fullScreen ? 4 : 0;
                break;
            }
        }
        displays.append(QVariantMap{{QStringLiteral("Display Identifier"), screen->name()},
            {QStringLiteral("Current Space"), QVariantMap{{QStringLiteral("type"), type}}}});
    }
    return displays;
}

} // namespace

QVariant current()
{
    // The pointer timer asks 30 times a second while the line is down or
    // the pointer in the band; the window manager's answer is reused for a
    // moment instead of costing two round trips each time.
    static QElapsedTimer age;
    static QVariant answer;
    if (!age.isValid() || age.hasExpired(reuseMilliseconds)) {
        answer = ask();
        age.start();
    }
    return answer;
}

} // namespace tolvex::X11DisplaySpaces
