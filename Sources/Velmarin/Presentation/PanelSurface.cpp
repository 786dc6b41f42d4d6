#include "Velmarin/Presentation/PanelSurface.h"

#include "Velmarin/Presentation/PanelAppearance.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

namespace tolvex {

PanelSurface::PanelSurface(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

PanelSurface::PanelSurface(const QRect& frame, QWidget* parent) : PanelSurface(parent)
{
    setGeometry(frame);
}

void PanelSurface::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), PanelAppearance::paper(palette()));
}

void PanelSurface::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The desktop's light/dark switch arrives as a palette change.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        update();
}

} // namespace tolvex
