#pragma once

#include "Velmarin/Common/Published.h"
#include "Velmarin/Shelf/Line.h"

#include <QPointer>
#include <QWidget>

#include <optional>

namespace tolvex {

class GrabView;
class LineView;

// The panel's content: hosts the strip and adds what the strip does not
// do itself: the keys of keyboard browsing, horizontal scrolling, hiding
// every card layer in the same frame as the privacy cover, and
// accessibility children that vanish while the shelf is hidden or covered.
class LineHostingView final : public QWidget {
    Q_OBJECT

public:
    explicit LineHostingView(Line& line, QWidget* parent = nullptr);
    ~LineHostingView() override;

    Line& line() const { return *line_; }
    LineView* lineView() const { return view_; }

    // Every card layer, depth-first in child order.
    QList<GrabView*> cardLayers() const;
    // The card layer of the keyboard selection, if it is built.
    GrabView* selectedCard() const;
    // Tells assistive technology which card is selected, on a later turn
    // (when the strip has built the card).
    void announceKeyboardSelection();
    // Runs the line's pending press cancel, then ends keyboard browsing.
    void cancelOperation();
    // Whether assistive technology may see the cards now.
    bool exposesChildren() const;

    // Converts a wheel event's deltas into a scroll of the line; answers
    // whether it was the shelf's (horizontal, or vertical with Shift).
    bool scrollWheel(QPointF pixelDelta, QPoint angleDelta, Qt::KeyboardModifiers modifiers);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void hideCardLayers();
    void placeView();

    QPointer<Line> line_;
    LineView* view_ = nullptr;
    std::optional<Subscription> privacyObserver_;
    std::optional<bool> lastPrivacy_;
};

} // namespace tolvex
