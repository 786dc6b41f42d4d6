#pragma once

#include <QVariant>

namespace tolvex::X11DisplaySpaces {

// What each screen now shows, asked of the EWMH window manager, in the shape
// FullScreen::parse reads: per screen (named as QScreen names it), type 4
// when the topmost visible window on it, on the current desktop, is full
// screen, else 0. The program's own windows, docks and the desktop window
// are looked through. Invalid without X11 or without an EWMH window manager.
// GUI thread only. An answer is reused for a quarter of a second; asking
// costs two round trips to the X server.
QVariant current();

} // namespace tolvex::X11DisplaySpaces
