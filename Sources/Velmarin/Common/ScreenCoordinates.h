#pragma once

#include <QPointF>
#include <QRectF>

namespace tolvex {

// The one place where coordinates change direction. Positions written with
// the origin at the bottom-left and y growing upwards ("y-up", as screen
// layouts, capture rectangles and fly-in targets are often recorded) become
// Qt's top-left, y-down form and back. `height` is that of the frame both
// are measured in: a screen, a panel, or the 210-point strip.
namespace ScreenCoordinates {

// y-up to y-down, and back: the same mirror.
inline QPointF flipped(const QPointF& point, qreal height)
{
    return {point.x(), height - point.y()};
}

// A rectangle keeps its size; its top edge becomes the mirrored bottom edge.
inline QRectF flipped(const QRectF& rect, qreal height)
{
    return {rect.x(), height - rect.y() - rect.height(), rect.width(), rect.height()};
}

// A global (y-down) pointer position in the coordinates of a frame whose
// top-left corner lies at `frameTopLeft` on the screen.
inline QPointF toFrame(const QPointF& global, const QPointF& frameTopLeft)
{
    return global - frameTopLeft;
}

} // namespace ScreenCoordinates

} // namespace tolvex
