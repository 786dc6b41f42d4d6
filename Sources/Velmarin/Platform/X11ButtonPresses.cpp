#include "Velmarin/Platform/X11ButtonPresses.h"

#include "Velmarin/Platform/X11RootInputSelection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QTimer>

#include <xcb/xinput.h>

namespace tolvex {

namespace {
constexpr uint32_t leftButton = 1;
constexpr uint32_t rightButton = 3;
} // namespace

class X11ButtonPresses::Filter final : public QAbstractNativeEventFilter {
public:
    Filter(uint8_t opcode, std::function<void()> onPress) : opcode_(opcode), onPress_(std::move(onPress)) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        const auto* press = static_cast<const xcb_input_raw_button_press_event_t*>(
            X11RootInputSelection::inputEvent(eventType, message, opcode_, XCB_INPUT_RAW_BUTTON_PRESS));
        if (!press)
            return false;
        if (press->detail == leftButton || press->detail == rightButton)
            QTimer::singleShot(0, &context_, onPress_);
        // Others may want the same event.
        return false;
    }

private:
    uint8_t opcode_;
    std::function<void()> onPress_;
    QObject context_;
};

X11ButtonPresses::X11ButtonPresses(std::function<void()> onPress)
{
    const uint8_t opcode = X11RootInputSelection::opcode();
    if (opcode == 0 || !X11RootInputSelection::add(XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS, true))
        return;
    filter_ = std::make_unique<Filter>(opcode, std::move(onPress));
    QCoreApplication::instance()->installNativeEventFilter(filter_.get());
}

X11ButtonPresses::~X11ButtonPresses()
{
    if (!filter_)
        return;
    X11RootInputSelection::remove(XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(filter_.get());
}

bool X11ButtonPresses::isWatching() const
{
    return filter_ != nullptr;
}

} // namespace tolvex
