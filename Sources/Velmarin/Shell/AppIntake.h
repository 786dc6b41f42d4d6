#pragma once

#include <memory>

namespace tolvex {

class AppDelegate;
class CaptureFolderCoordinator;
class ClipboardImportService;
class ClipboardPollTrigger;
class MaterialStore;
class SystemPasteboard;

// The running program's two intakes as the delegate wires them: what each
// imports is rendered on the line and presented by the capture
// presentation, and a change of their state refreshes the delegate's
// status. Every callback holds the delegate weakly; the delegate owns,
// starts and stops what these make. GUI thread only.
namespace AppIntake {

// The capture folder's coordinator over the store; it watches nothing
// until it is restored. Its errors go to the delegate's capture alert; a
// capture lost to a replaced data root, to its intake alert.
std::unique_ptr<CaptureFolderCoordinator> capture(AppDelegate& delegate, MaterialStore& store);
// The clipboard's import service over `pasteboard`; it reads nothing until
// it is started, nor while the line is covered. A replaced data root goes
// to the delegate's intake alert.
std::shared_ptr<ClipboardImportService> clipboard(
    AppDelegate& delegate, MaterialStore& store, std::shared_ptr<SystemPasteboard> pasteboard);
// Polls the delegate's clipboard service at once whenever `pasteboard` changes.
std::unique_ptr<ClipboardPollTrigger> pollTrigger(AppDelegate& delegate, SystemPasteboard& pasteboard);

} // namespace AppIntake

} // namespace tolvex
