#pragma once

#include <QAccessibleWidget>

namespace tolvex {

class LinePanel;

// What assistive technology sees of the shelf's panel: a window that can be
// asked to raise itself, which reveals the line (the panel's
// `onAccessibilityReveal`). The panel takes no focus, so a screen reader
// brings the shelf down through this action rather than by focusing it.
class LinePanelAccessible final : public QAccessibleWidget {
public:
    static QString raiseAction();

    explicit LinePanelAccessible(LinePanel* panel);

    // Makes every LinePanel answer with this interface; idempotent.
    static void install();

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
};

} // namespace tolvex
