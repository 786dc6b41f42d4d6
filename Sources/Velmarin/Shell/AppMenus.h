#pragma once

#include "Velmarin/Shell/StatusMenu.h"

namespace tolvex {

class AppDelegate;

// The status item's and the rope's menu as the running program fills them:
// the state each row shows, read from the delegate's parts when the menu
// opens, and the action behind each row. Every action holds the delegate
// weakly. GUI thread only.
namespace AppMenus {

StatusMenu::State state(const AppDelegate& delegate);
StatusMenu::Actions actions(AppDelegate& delegate);

} // namespace AppMenus

} // namespace tolvex
