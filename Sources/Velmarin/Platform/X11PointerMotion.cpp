#include "Velmarin/Platform/X11PointerMotion.h"

#include "Velmarin/Platform/X11RootInputSelection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QCursor>

#include <xcb/xinput.h>

#include <cmath>

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

X11PointerMotion::X11PointerMotion(Ask ask, double recheckAfter)
    : ask_(ask ? std::move(ask) : Ask([] { return QCursor::pos(); })),
      recheckAfterNs_(static_cast<qint64>(std::llround(recheckAfter * 1e9)))
{
    const std::uint8_t opcode = X11RootInputSelection::opcode();
    if (opcode == 0 || !X11RootInputSelection::add(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION, true))
        return;
    // Selected again at the first answer.
    X11RootInputSelection::remove(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION);
    filter_ = std::make_unique<Filter>(opcode, *this);
    QCoreApplication::instance()->installNativeEventFilter(filter_.get());
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
    if (on)
        X11RootInputSelection::add(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION, false);
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
