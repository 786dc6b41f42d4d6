#pragma once

#include "Velmarin/Platform/HotKey.h"

namespace tolvex {

// The hot key on X11: a passive grab of T with Control and Alt on the root
// window (once per combination of NumLock and CapsLock, which X counts as
// modifiers), seen through a native event filter. A grab someone else holds
// answers the "already taken" code; no X11 connection fails the install.
HotKey::Backend x11HotKeyBackend();

} // namespace tolvex
