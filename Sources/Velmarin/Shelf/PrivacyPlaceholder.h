#pragma once

class QWidget;

namespace tolvex {

// What a window shows instead of material while the shelf is covered: a
// paper surface the size of the window's content (500 x 300 without one)
// with the "privacy.hidden" text centred. The caller installs it.
QWidget* privacyPlaceholder(QWidget* window);

} // namespace tolvex
