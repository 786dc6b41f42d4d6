#include "Velmarin/Shelf/LinePanelAccessible.h"

#include "Velmarin/Shelf/LinePanel.h"

namespace tolvex {

namespace {

QAccessibleInterface* panelInterface(const QString&, QObject* object)
{
    if (auto* panel = qobject_cast<LinePanel*>(object))
        return new LinePanelAccessible(panel);
    return nullptr;
}

} // namespace

QString LinePanelAccessible::raiseAction()
{
    return QStringLiteral("raise");
}

LinePanelAccessible::LinePanelAccessible(LinePanel* panel) : QAccessibleWidget(panel, QAccessible::Window)
{
}

void LinePanelAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(panelInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

QStringList LinePanelAccessible::actionNames() const
{
    return QAccessibleWidget::actionNames() << raiseAction();
}

void LinePanelAccessible::doAction(const QString& actionName)
{
    if (actionName != raiseAction()) {
        QAccessibleWidget::doAction(actionName);
        return;
    }
    if (auto* panel = qobject_cast<LinePanel*>(widget()); panel && panel->onAccessibilityReveal)
        panel->onAccessibilityReveal();
}

} // namespace tolvex
