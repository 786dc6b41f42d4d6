#include "Velmarin/Windows/EditorWindow.h"

#include <QCloseEvent>
#include <QEvent>

namespace tolvex {

EditorWindow::EditorWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    // The application runs without a main window; closing an editor must not end it.
    setAttribute(Qt::WA_QuitOnClose, false);
}

void EditorWindow::closeNow()
{
    closingNow_ = true;
    close();
    closingNow_ = false;
}

void EditorWindow::closeEvent(QCloseEvent* event)
{
    if (closingNow_ || !shouldClose || shouldClose())
        event->accept();
    else
        event->ignore();
}

void EditorWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && onResignActive)
        onResignActive();
}

} // namespace tolvex
