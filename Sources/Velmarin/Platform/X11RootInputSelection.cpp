#include "Velmarin/Platform/X11RootInputSelection.h"

#include "Velmarin/Platform/X11Connection.h"

#include <xcb/xinput.h>

#include <array>
#include <cstdlib>

namespace tolvex::X11RootInputSelection {

namespace {

// How many watchers hold each bit; a bit is selected while its count is above 0.
std::array<int, 32> holders{};

std::uint32_t selectedBits()
{
    std::uint32_t bits = 0;
    for (std::size_t bit = 0; bit < holders.size(); ++bit) {
        if (holders[bit] > 0)
            bits |= 1u << bit;
    }
    return bits;
}

void count(std::uint32_t bits, int step)
{
    for (std::size_t bit = 0; bit < holders.size(); ++bit) {
        if ((bits & (1u << bit)) && holders[bit] + step >= 0)
            holders[bit] += step;
    }
}

xcb_void_cookie_t select(xcb_connection_t* connection, xcb_window_t root, bool checked)
{
    struct {
        xcb_input_event_mask_t header;
        std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, selectedBits()};
    return checked ? xcb_input_xi_select_events_checked(connection, root, 1, &mask.header)
                   : xcb_input_xi_select_events(connection, root, 1, &mask.header);
}

} // namespace

std::uint8_t opcode()
{
    xcb_connection_t* connection = X11Connection::connection();
    if (!connection)
        return 0;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_input_id);
    return extension && extension->present ? extension->major_opcode : 0;
}

bool add(std::uint32_t bits, bool checked)
{
    xcb_connection_t* connection = X11Connection::connection();
    const xcb_window_t root = X11Connection::rootWindow();
    if (!connection || !root || opcode() == 0)
        return false;
    const std::uint32_t before = selectedBits();
    count(bits, 1);
    if (selectedBits() == before)
        return true;
    if (!checked) {
        select(connection, root, false);
        xcb_flush(connection);
        return true;
    }
    if (xcb_generic_error_t* error = xcb_request_check(connection, select(connection, root, true))) {
        std::free(error);
        count(bits, -1);
        return false;
    }
    return true;
}

void remove(std::uint32_t bits)
{
    xcb_connection_t* connection = X11Connection::connection();
    const xcb_window_t root = X11Connection::rootWindow();
    const std::uint32_t before = selectedBits();
    count(bits, -1);
    if (!connection || !root || selectedBits() == before)
        return;
    select(connection, root, false);
    xcb_flush(connection);
}

const void* inputEvent(const QByteArray& eventType, const void* message, std::uint8_t opcode, std::uint16_t type)
{
    if (eventType != "xcb_generic_event_t")
        return nullptr;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
        return nullptr;
    const auto* generic = static_cast<const xcb_ge_generic_event_t*>(message);
    return generic->extension == opcode && generic->event_type == type ? message : nullptr;
}

} // namespace tolvex::X11RootInputSelection
