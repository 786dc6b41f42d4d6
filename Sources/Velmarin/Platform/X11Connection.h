#pragma once

#include <xcb/xcb.h>

namespace tolvex::X11Connection {

// Qt's own connection to the X server, or null when the program does not run
// on X11 (offscreen, Wayland without XWayland). GUI thread only.
xcb_connection_t* connection();
// The root window of the default screen; 0 without a connection.
xcb_window_t rootWindow();
// The atom of a name, 0 on failure. Blocks for one round trip.
xcb_atom_t atom(xcb_connection_t* connection, const char* name);

} // namespace tolvex::X11Connection
