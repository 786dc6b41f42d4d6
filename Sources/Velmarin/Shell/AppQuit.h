#pragma once

#include <functional>

class QSessionManager;

namespace tolvex {

class Alert;
class AppDelegate;

// The quit checks over the delegate's unfinished work: the detail window,
// the editors, the markup session and the clipboard's unsaved input. Every
// way of quitting passes here (see AppDelegate::applicationShouldTerminate).
// GUI thread only.
namespace AppQuit {

using AlertRunner = std::function<int(Alert&)>;

// True when the program may end; the checks' alerts run through `runAlert`.
bool mayTerminate(AppDelegate& delegate, const AlertRunner& runAlert);
// The session manager's quit passes the same checks. Without leave to ask,
// unfinished work simply keeps the session from ending.
void commitData(AppDelegate& delegate, QSessionManager& manager);

} // namespace AppQuit

} // namespace tolvex
