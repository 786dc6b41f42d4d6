#include "Velmarin/Shell/PanelWindow.h"

#include "Velmarin/Platform/QtPresentationSystem.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace tolvex {

PanelWindow::PanelWindow(QWidget* content)
    : QWidget(nullptr,
          Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
              | Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    if (content) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
    }
}

QRectF PanelWindow::frame() const
{
    return QRectF(geometry());
}

void PanelWindow::setFrame(const QRectF& frame)
{
    setGeometry(frame.toAlignedRect());
}

std::optional<PresentationScreen> PanelWindow::screen() const
{
    if (geometry().isEmpty())
        return std::nullopt;
    if (const QScreen* screen = QGuiApplication::screenAt(geometry().center()))
        return QtPresentationSystem::describe(screen);
    return std::nullopt;
}

void PanelWindow::orderFront()
{
    setWindowOpacity(1);
    show();
    raise();
}

void PanelWindow::orderOut()
{
    hide();
}

} // namespace tolvex
