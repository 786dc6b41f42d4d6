#include "Velmarin/Shelf/LineRopeGeometry.h"

#include <algorithm>
#include <cmath>

namespace tolvex {

double LineRopeGeometry::sag(double width)
{
    return std::min(0.018 * width, 30.0);
}

double LineRopeGeometry::y(double x, double width)
{
    const double span = width >= 0 ? width + 2 * overhang : 2 * overhang;
    const double t = (x + overhang) / span;
    return endHeight + 4 * sag(width) * t * (1 - t);
}

QPainterPath LineRopeGeometry::path(double width, double from, double to)
{
    const double m = (from + to) / 2;
    const double ya = y(from, width);
    const double yb = y(to, width);
    const double ym = y(m, width);
    QPainterPath result(QPointF(from, ya));
    result.quadTo(QPointF(m, 2 * ym - (ya + yb) / 2), QPointF(to, yb));
    return result;
}

double LineRopeGeometry::pegY(double x, double width)
{
    if (width <= 0)
        return endHeight;
    const double c = std::clamp(x, 0.0, width) / width;
    return endHeight + 4 * sag(width) * c * (1 - c);
}

QRectF LineInputLayout::settingsRegion(double width)
{
    const double c = goldenSection * width;
    const double y1 = LineRopeGeometry::y(c - regionHalfWidth, width);
    const double y2 = LineRopeGeometry::y(c + regionHalfWidth, width);
    return {c - regionHalfWidth, std::min(y1, y2) - 18, 2 * regionHalfWidth, std::abs(y1 - y2) + 21};
}

} // namespace tolvex
