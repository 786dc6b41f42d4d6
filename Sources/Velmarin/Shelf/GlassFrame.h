#pragma once

#include <QRectF>

class QPainter;

namespace tolvex {

enum class GlassShape { roundedRect, circle, capsule };

// The frosted look of the take-down mark and the "copied" label: a thin
// translucent fill, a light rim fading downwards and a faint dark outline.
void glassFrame(QPainter& painter, const QRectF& rect, GlassShape shape, double cornerRadius = 0);

} // namespace tolvex
