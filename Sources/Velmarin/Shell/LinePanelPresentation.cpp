#include "Velmarin/Shell/LinePanelPresentation.h"

#include "Velmarin/Platform/QtPresentationSystem.h"
#include "Velmarin/Shelf/LineHostingView.h"
#include "Velmarin/Shelf/LinePanel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace tolvex {

LinePanelPresentation::LinePanelPresentation(Line& line) : panel_(new LinePanel(new LineHostingView(line)))
{
}

LinePanelPresentation::~LinePanelPresentation()
{
    delete panel_.data();
}

QRectF LinePanelPresentation::frame() const
{
    return panel_ ? QRectF(panel_->geometry()) : QRectF();
}

void LinePanelPresentation::setFrame(const QRectF& frame)
{
    if (panel_)
        panel_->setGeometry(frame.toAlignedRect());
}

std::optional<PresentationScreen> LinePanelPresentation::screen() const
{
    if (!panel_ || panel_->geometry().isEmpty())
        return std::nullopt;
    if (const QScreen* screen = QGuiApplication::screenAt(panel_->geometry().center()))
        return QtPresentationSystem::describe(screen);
    return std::nullopt;
}

void LinePanelPresentation::orderFront()
{
    if (!panel_)
        return;
    panel_->setWindowOpacity(1);
    panel_->show();
    panel_->raise();
}

void LinePanelPresentation::orderOut()
{
    if (panel_)
        panel_->hide();
}

void LinePanelPresentation::ignoreMouseEvents()
{
    // A hidden line claims no point, so the panel's input region empties.
    if (panel_)
        panel_->updateMousePassThrough(QCursor::pos());
}

void LinePanelPresentation::updateMousePassThrough(const QPointF& globalPointer)
{
    if (panel_)
        panel_->updateMousePassThrough(globalPointer);
}

bool LinePanelPresentation::isKeyboardBrowsing() const
{
    return panel_ && panel_->isKeyboardBrowsing();
}

void LinePanelPresentation::endKeyboardBrowsing()
{
    if (panel_)
        panel_->endKeyboardBrowsing();
}

} // namespace tolvex
