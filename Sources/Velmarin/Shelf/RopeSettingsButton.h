#pragma once

#include <QAbstractButton>
#include <QPointF>

#include <functional>

class QMenu;

namespace tolvex {

// The red stretch of rope: a click starts a new note, a right click opens
// the rope menu. It draws 34 points of the rope itself in red and nothing
// else, so the rope seems to change colour there.
class RopeSettingsButton final : public QAbstractButton {
public:
    explicit RopeSettingsButton(QWidget* parent = nullptr);

    // The width of the whole rope and where this button's region starts on
    // it, both in rope coordinates.
    double ropeWidth = 0;
    QPointF ropeOrigin;
    // A new menu each time, or none; the caller owns it.
    std::function<QMenu*()> menuProvider = [] { return static_cast<QMenu*>(nullptr); };

    // Whether a point of this button lies on the red stretch itself:
    // within 17 points of its centre along the rope and 3 of the line.
    bool isOnStretch(QPointF point) const;

    bool accessibilityPerformPress();
    bool accessibilityPerformShowMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void popUp(const QPoint& global);
};

} // namespace tolvex
