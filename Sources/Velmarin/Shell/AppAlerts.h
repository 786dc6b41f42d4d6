#pragma once

#include <memory>

namespace tolvex {

class AppDelegate;
class WorkflowAlerts;

// The workflow alerts as the running program offers them: run as the
// delegate's own alerts, each remedy doing what mends the error (the
// settings, the file chooser, the recovery window, the capture folder's
// chooser, the file manager, the quit). Every remedy holds the delegate
// weakly. GUI thread only.
namespace AppAlerts {

std::unique_ptr<WorkflowAlerts> workflowAlerts(AppDelegate& delegate);

} // namespace AppAlerts

} // namespace tolvex
