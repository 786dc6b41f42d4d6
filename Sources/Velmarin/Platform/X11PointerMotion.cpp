#include "Velmarin/Platform/X11PointerMotion.h"

#include "Velmarin/Platform/X11RootInputSelection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <xcb/xinput.h>

#include <cmath>
#include <cstdlib>

namespace tolvex {

namespace {
std::int64_t asked = 0;
} // namespace

class X11PointerMotion::Filter final : public QAbstractNativeEventFilter {
public:
    Filter(std::uint8_t opcode, X11PointerMotion& owner) : opcode_(opcode), owner_(owner) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (X11RootInputSelection::inputEvent(eventType, message, opcode_, XCB_INPUT_RAW_MOTION))
            owner_.moved();
        // Others may want the same event.
        return false;
    }

private:
    std::uint8_t opcode_;
    X11PointerMotion& owner_;
};

// Asks the server where the pointer is over a connection of its own. Asked
// over Qt's connection, the answer is read by Qt's event thread and handed
// over to the GUI thread, and that hand-over costs several times the
// question itself; on a connection nobody else reads, the asking thread reads
// the answer itself. The answer is in device pixels, which are Qt's logical
// ones only while no screen is scaled: then Qt is asked instead.
class X11PointerMotion::OwnQuery {
public:
    static std::unique_ptr<OwnQuery> open()
    {
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            return nullptr;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        if (!screen) {
            xcb_disconnect(connection);
            return nullptr;
        }
        return std::unique_ptr<OwnQuery>(new OwnQuery(connection, screen->root));
    }
    ~OwnQuery() { xcb_disconnect(connection_); }
    OwnQuery(const OwnQuery&) = delete;
    OwnQuery& operator=(const OwnQuery&) = delete;

    QPoint position() const
    {
        for (const QScreen* screen : QGuiApplication::screens()) {
            if (screen->devicePixelRatio() != 1)
                return QCursor::pos();
        }
        std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> reply(
            xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr), &std::free);
        return reply ? QPoint(reply->root_x, reply->root_y) : QCursor::pos();
    }

private:
    OwnQuery(xcb_connection_t* connection, xcb_window_t root) : connection_(connection), root_(root) {}

    xcb_connection_t* connection_;
    xcb_window_t root_;
};

X11PointerMotion::X11PointerMotion(Ask ask, double recheckAfter)
    : ask_(std::move(ask)), recheckAfterNs_(static_cast<qint64>(std::llround(recheckAfter * 1e9)))
{
    const std::uint8_t opcode = X11RootInputSelection::opcode();
    if (opcode != 0 && X11RootInputSelection::add(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION, true)) {
        // Selected again at the first answer.
        X11RootInputSelection::remove(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION);
        filter_ = std::make_unique<Filter>(opcode, *this);
        QCoreApplication::instance()->installNativeEventFilter(filter_.get());
        if (!ask_)
            query_ = OwnQuery::open();
    }
    if (!ask_) {
        ask_ = query_ ? Ask([query = query_.get()] { return query->position(); }) : Ask([] { return QCursor::pos(); });
    }
}

X11PointerMotion::~X11PointerMotion()
{
    if (!filter_)
        return;
    watch(false);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(filter_.get());
}

bool X11PointerMotion::isWatching() const
{
    return filter_ != nullptr;
}

void X11PointerMotion::watch(bool on)
{
    if (on == selected_)
        return;
    selected_ = on;
    // The question may go out on another connection than the selection,
    // and the server orders requests only within one: the selection is
    // then waited for, so that a motion after the answer always sends an
    // event. It goes out only after a motion, never while the pointer rests.
    if (on)
        X11RootInputSelection::add(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION, query_ != nullptr);
    else
        X11RootInputSelection::remove(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION);
}

void X11PointerMotion::moved()
{
    stale_ = true;
    watch(false);
    if (onMoved)
        onMoved();
}

std::int64_t X11PointerMotion::askedCount()
{
    return asked;
}

QPoint X11PointerMotion::position()
{
    if (!filter_) {
        ++asked;
        return ask_();
    }
    if (stale_ || !answeredAt_.isValid() || answeredAt_.nsecsElapsed() >= recheckAfterNs_) {
        // The selection goes out before the question: the server handles
        // them in order, so a motion after the answer always sends an event.
        watch(true);
        stale_ = false;
        ++asked;
        position_ = ask_();
        answeredAt_.start();
    }
    return position_;
}

} // namespace tolvex
