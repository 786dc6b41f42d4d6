#include "Velmarin/Shelf/GlassFrame.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace tolvex {

namespace {

QPainterPath shapePath(const QRectF& rect, GlassShape shape, double cornerRadius)
{
    QPainterPath path;
    switch (shape) {
    case GlassShape::circle: path.addEllipse(rect); break;
    case GlassShape::capsule: {
        const double r = std::min(rect.width(), rect.height()) / 2;
        path.addRoundedRect(rect, r, r);
        break;
    }
    case GlassShape::roundedRect: path.addRoundedRect(rect, cornerRadius, cornerRadius); break;
    }
    return path;
}

} // namespace

void glassFrame(QPainter& painter, const QRectF& rect, GlassShape shape, double cornerRadius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = shapePath(rect, shape, cornerRadius);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0.97, 0.97, 0.97, 0.72));
    painter.drawPath(path);
    QLinearGradient rim(rect.topLeft(), rect.bottomLeft());
    rim.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.55));
    rim.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0.12));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QBrush(rim), 0.75));
    painter.drawPath(path);
    painter.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.1), 0.5));
    const double grow = 0.5;
    painter.drawPath(shapePath(rect.adjusted(-grow, -grow, grow, grow), shape, cornerRadius + grow));
    painter.restore();
}

} // namespace tolvex
