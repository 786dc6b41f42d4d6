#include "Velmarin/Intake/CaptureRect.h"

#include "Velmarin/Intake/PropertyList.h"
#include "Velmarin/Platform/ExtendedAttributes.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace tolvex {

std::optional<QRectF> captureRect(const QUrl& file)
{
    if (!file.isLocalFile())
        return std::nullopt;
    const std::optional<QByteArray> attribute = ExtendedAttributes::read(
        file.toLocalFile(), captureRectAttribute, captureRectAttributeLimit, ExtendedAttributes::Links::follow);
    if (!attribute)
        return std::nullopt;
    QList<QRect> screens;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        screens.append(primary->geometry());
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen())
            screens.append(screen->geometry());
    }
    return captureRect(*attribute, screens);
}

std::optional<QRectF> captureRect(const QByteArray& attribute, const QList<QRect>& screens)
{
    if (attribute.isEmpty() || attribute.size() > captureRectAttributeLimit)
        return std::nullopt;
    const std::optional<QList<double>> numbers = PropertyList::numberArray(attribute);
    if (!numbers || numbers->size() != 4 || screens.isEmpty())
        return std::nullopt;
    const double x = (*numbers)[0];
    const double y = (*numbers)[1];
    const double width = (*numbers)[2];
    const double height = (*numbers)[3];
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height) || width <= 2
        || height <= 2)
        return std::nullopt;

    // Our screen coordinates run from the top left like the attribute's,
    // so the main screen's origin is the only shift. Edges are computed one
    // by one in doubles: x + width may overflow to infinity, which the
    // clamping below absorbs.
    const QRect main = screens.first();
    const double left = main.x() + x;
    const double top = main.y() + y;
    const double right = left + width;
    const double bottom = top + height;

    QRect bounds;
    for (const QRect& screen : screens)
        bounds = bounds.united(screen);
    const double clampedLeft = std::max(left, double(bounds.left()));
    const double clampedTop = std::max(top, double(bounds.top()));
    const double clampedRight = std::min(right, double(bounds.left()) + bounds.width());
    const double clampedBottom = std::min(bottom, double(bounds.top()) + bounds.height());
    if (!(clampedRight > clampedLeft) || !(clampedBottom > clampedTop))
        return std::nullopt;
    const QRectF clamped(clampedLeft, clampedTop, clampedRight - clampedLeft, clampedBottom - clampedTop);
    const bool meetsAScreen = std::any_of(
        screens.cbegin(), screens.cend(), [&](const QRect& screen) { return QRectF(screen).intersects(clamped); });
    if (!meetsAScreen)
        return std::nullopt;
    return clamped;
}

} // namespace tolvex
