#include "Velmarin/Shelf/Clothespin.h"

#include <QPainter>
#include <QPainterPath>

namespace tolvex {

Clothespin::Clothespin() : metal_(metal(0, width)) {}

QLinearGradient Clothespin::metal(double left, double span)
{
    QLinearGradient gradient(QPointF(left, 0), QPointF(left + span, 0));
    gradient.setColorAt(0.0, QColor::fromRgbF(0.70, 0.70, 0.70));
    gradient.setColorAt(0.35, QColor::fromRgbF(0.93, 0.93, 0.93));
    gradient.setColorAt(0.65, QColor::fromRgbF(0.82, 0.82, 0.82));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.62, 0.62, 0.62));
    return gradient;
}

void Clothespin::paint(QPainter& painter, QPointF origin) const
{
    painter.save();
    painter.translate(origin);
    const QRectF body(0, 0, width, height);
    QPainterPath shape;
    shape.addRoundedRect(body, 1.5, 1.5);
    // A soft shadow 1.5 below.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.15));
    painter.drawPath(shape.translated(0, 1.5));
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.1));
    painter.drawRoundedRect(body.translated(0, 1.5).adjusted(-1, -1, 1, 1), 2.5, 2.5);
    painter.setBrush(metal_);
    painter.drawPath(shape);
    QLinearGradient rim(QPointF(0, 0), QPointF(0, height));
    rim.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.9));
    rim.setColorAt(1, QColor::fromRgbF(0, 0, 0, 0.18));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QBrush(rim), 0.6));
    painter.drawPath(shape);
    // The spring groove.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.32));
    painter.drawRoundedRect(QRectF((width - 5) / 2, 8.5, 5, 1.4), 0.7, 0.7);
    painter.restore();
}

} // namespace tolvex
