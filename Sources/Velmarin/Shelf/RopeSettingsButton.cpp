#include "Velmarin/Shelf/RopeSettingsButton.h"

#include "Velmarin/Shelf/LineRopeGeometry.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace tolvex {

RopeSettingsButton::RopeSettingsButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_NoSystemBackground);
}

bool RopeSettingsButton::isOnStretch(QPointF point) const
{
    const double centre = LineInputLayout::settingsRegion(ropeWidth).center().x();
    const double x = point.x() + ropeOrigin.x();
    if (std::abs(x - centre) > LineInputLayout::stretchHalfLength)
        return false;
    const double ropeY = LineRopeGeometry::y(x, ropeWidth) - ropeOrigin.y();
    return std::abs(point.y() - ropeY) <= 3;
}

void RopeSettingsButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double centre = LineInputLayout::settingsRegion(ropeWidth).center().x();
    const QPainterPath stretch = LineRopeGeometry::path(ropeWidth, centre - LineInputLayout::stretchHalfLength,
        centre + LineInputLayout::stretchHalfLength);
    painter.setPen(QPen(QColor(255, 59, 48), 2.4, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(stretch.translated(-ropeOrigin));
}

void RopeSettingsButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        popUp(event->globalPosition().toPoint());
        event->accept();
        return;
    }
    QAbstractButton::mousePressEvent(event);
}

void RopeSettingsButton::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
}

void RopeSettingsButton::popUp(const QPoint& global)
{
    QMenu* menu = menuProvider ? menuProvider() : nullptr;
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(global);
}

bool RopeSettingsButton::accessibilityPerformPress()
{
    if (!isEnabled())
        return false;
    click();
    return true;
}

bool RopeSettingsButton::accessibilityPerformShowMenu()
{
    if (!window())
        return false;
    QMenu* menu = menuProvider ? menuProvider() : nullptr;
    if (!menu)
        return false;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(mapToGlobal(rect().center()));
    return true;
}

} // namespace tolvex
