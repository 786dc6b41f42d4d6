#include "Velmarin/Presentation/WindowPlacement.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace tolvex::WindowPlacement {

namespace {

// What a window manager's title bar and borders add to a window's height.
constexpr int titleBarAllowance = 40;

} // namespace

void fitAndCentre(QWidget* window)
{
    const QRect available = window->screen()->availableGeometry();
    // The title bar lies above the window's own rectangle; the whole frame
    // stays within the available area, as far as the content's minimum lets it.
    const QSize room = available.size() - QSize(0, titleBarAllowance);
    window->resize(window->size().boundedTo(room).expandedTo(window->minimumSize()));
    // A window's position is its frame's.
    window->move(available.left() + (available.width() - window->width()) / 2,
        available.top() + std::max(0, (available.height() - window->height() - titleBarAllowance) / 2));
}

} // namespace tolvex::WindowPlacement
