#pragma once

#include <QWidget>

namespace tolvex {

// Puts a window the user already has in front and gives it the keyboard,
// where it is: restored when minimized, never moved.
inline void bringToFront(QWidget* window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace tolvex
