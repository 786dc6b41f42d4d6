#include "Velmarin/Shelf/LineGeometry.h"

#include <algorithm>

namespace tolvex::LineGeometry {

double contentWidth(std::ptrdiff_t n, double w)
{
    const double row = static_cast<double>(std::max<std::ptrdiff_t>(n - 1, 0)) * pitch + cardWidth;
    return row <= w ? w : row + overflowSlack;
}

double maxScrollOffset(std::ptrdiff_t n, double w)
{
    return std::max(contentWidth(n, w) - w, 0.0);
}

double rowCentre(std::ptrdiff_t index, std::ptrdiff_t n, double w)
{
    return static_cast<double>(index) * pitch + contentWidth(n, w) / 2
        - static_cast<double>(std::max<std::ptrdiff_t>(n - 1, 0)) * pitch / 2;
}

double cardX(std::ptrdiff_t index, std::ptrdiff_t n, double w, double scrollOffset)
{
    return rowCentre(index, n, w) - std::min(scrollOffset, maxScrollOffset(n, w));
}

QRectF ropeInputStrip(double w)
{
    return QRectF(50, 0, std::max(w - 100, 0.0), 64);
}

QRectF pageControls(double w)
{
    return QRectF(w / 2 - 65, 180, 130, 30);
}

} // namespace tolvex::LineGeometry
