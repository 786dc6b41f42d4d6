#pragma once

#include "Velmarin/Platform/PresentationSystem.h"

#include <QPointer>

namespace tolvex {

class Line;
class LinePanel;

// The shelf's panel with its line views, as the reveal-and-hide logic drives it.
class LinePanelPresentation final : public PresentationPanel {
public:
    explicit LinePanelPresentation(Line& line);
    ~LinePanelPresentation() override;

    LinePanel* panel() const { return panel_; }

    QRectF frame() const override;
    void setFrame(const QRectF& frame) override;
    std::optional<PresentationScreen> screen() const override;
    void orderFront() override;
    void orderOut() override;
    void ignoreMouseEvents() override;
    void updateMousePassThrough(const QPointF& globalPointer) override;
    bool isKeyboardBrowsing() const override;
    void endKeyboardBrowsing() override;

private:
    QPointer<LinePanel> panel_;
};

} // namespace tolvex
