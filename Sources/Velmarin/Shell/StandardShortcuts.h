#pragma once

#include <functional>

class QObject;

namespace tolvex {

// The program's windows share the desktop's usual keys: Ctrl+Q quits
// (through the quit checks) and Ctrl+W closes the window in front. Undo,
// redo, cut, copy, paste and select-all are the text fields' own.
namespace StandardShortcuts {

// Filters the application's key events for as long as the application lives.
void install(QObject* application, std::function<void()> quit);

} // namespace StandardShortcuts

} // namespace tolvex
