#include "Velmarin/Platform/X11DesktopChanges.h"

#include "Velmarin/Platform/X11Connection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QTimer>

#include <cstdlib>

namespace tolvex {

class X11DesktopChanges::Filter final : public QAbstractNativeEventFilter {
public:
    Filter(xcb_window_t root, xcb_atom_t desktop, xcb_atom_t active, std::function<void()> onChange)
        : root_(root), desktop_(desktop), active_(active), onChange_(std::move(onChange))
    {
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto* notify = static_cast<const xcb_property_notify_event_t*>(message);
        if (notify->window == root_ && (notify->atom == desktop_ || notify->atom == active_))
            QTimer::singleShot(0, &context_, onChange_);
        return false;
    }

private:
    xcb_window_t root_;
    xcb_atom_t desktop_;
    xcb_atom_t active_;
    std::function<void()> onChange_;
    QObject context_;
};

X11DesktopChanges::X11DesktopChanges(std::function<void()> onChange)
{
    xcb_connection_t* connection = X11Connection::connection();
    const xcb_window_t root = X11Connection::rootWindow();
    if (!connection || !root)
        return;
    // Add property changes to what Qt already listens for on the root
    // window; replacing its mask would deafen Qt.
    xcb_get_window_attributes_reply_t* attributes
        = xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, root), nullptr);
    if (!attributes)
        return;
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
    std::free(attributes);
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    filter_ = std::make_unique<Filter>(root, X11Connection::atom(connection, "_NET_CURRENT_DESKTOP"),
        X11Connection::atom(connection, "_NET_ACTIVE_WINDOW"), std::move(onChange));
    QCoreApplication::instance()->installNativeEventFilter(filter_.get());
}

X11DesktopChanges::~X11DesktopChanges()
{
    if (filter_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(filter_.get());
}

} // namespace tolvex
