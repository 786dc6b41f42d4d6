#pragma once

#include "Velmarin/Common/Published.h"

#include <QPointer>
#include <QWidget>

#include <vector>

class QPainter;

namespace tolvex {

class Line;
class LineDropTarget;

// The rope's input strip: while something acceptable hovers it shows the
// drop highlight with the count; it hosts the drop target that takes the
// drop, the paste and the red stretch. The highlight is painted by the
// strip, in its place between the rope and the cards.
class LineInputView final : public QWidget {
public:
    explicit LineInputView(Line& line, QWidget* parent = nullptr);
    ~LineInputView() override;

    LineDropTarget* dropTarget() const { return target_; }
    // Re-reads the line (the shell's rope menu may have been set since).
    void refresh();
    // In the strip's coordinates; nothing while no drag hovers.
    void paintHighlight(QPainter& painter) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointer<Line> line_;
    LineDropTarget* target_ = nullptr;
    std::vector<Subscription> subscriptions_;
};

} // namespace tolvex
