#pragma once

#include "Velmarin/Shell/PresentationSystem.h"

#include <QWidget>

namespace tolvex {

// The shelf's window as the presentation needs it: frameless, translucent,
// above other windows, never taking focus, and letting every click through.
// It holds a content widget (the line's views) and draws nothing itself.
class PanelWindow final : public QWidget, public PresentationPanel {
public:
    explicit PanelWindow(QWidget* content = nullptr);

    QRectF frame() const override;
    void setFrame(const QRectF& frame) override;
    std::optional<PresentationScreen> screen() const override;
    void orderFront() override;
    void orderOut() override;
    void ignoreMouseEvents() override {}
    void updateMousePassThrough(const QPointF&) override {}
    bool isKeyboardBrowsing() const override { return false; }
    void endKeyboardBrowsing() override {}
};

} // namespace tolvex
