#pragma once

class QWidget;

namespace tolvex {

// Where the program's own windows first appear on their screen.
namespace WindowPlacement {

// Fits the window, frame and all, into its screen's available area (as far
// as its minimum size allows) and centres it there. It does not show it.
void fitAndCentre(QWidget* window);

} // namespace WindowPlacement

} // namespace tolvex
