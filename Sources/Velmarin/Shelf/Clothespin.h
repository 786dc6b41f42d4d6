#pragma once

#include <QLinearGradient>
#include <QPointF>

class QPainter;

namespace tolvex {

// The metal pin that holds a card (and a flying capture) on the rope.
class Clothespin {
public:
    static constexpr double width = 9;
    static constexpr double height = 26;

    Clothespin();

    // Draws the pin with its top-left corner at `origin`.
    void paint(QPainter& painter, QPointF origin) const;

    // Four greys from the leading to the trailing edge, across `width`
    // points starting at `left`.
    static QLinearGradient metal(double left, double width);

private:
    QLinearGradient metal_;
};

} // namespace tolvex
