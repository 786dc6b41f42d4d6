#pragma once

#include <functional>

namespace tolvex::TerminationSignals {

// Turns SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl+C in a terminal)
// into a quit request on the GUI thread, so that they pass the same quit
// checks as the menus instead of ending the program mid-write. Call once,
// after the application object exists.
void route(std::function<void()> quitRequest);

} // namespace tolvex::TerminationSignals
