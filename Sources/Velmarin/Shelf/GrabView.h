#pragma once

#include <QCoro/QCoroTask>
#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QMimeData;
class QTimer;

namespace tolvex {

// The transparent mouse layer over one card. It turns presses into the
// card's gestures (click, double click, long press, drag-out, the corner
// take-down, the context menu) and is the card's accessibility element. It
// knows nothing of materials: GrabArea fills its callbacks from the line.
//
// Clicks are counted here, from the events' timestamps, not by the window
// system: exactly two presses within the double-click interval make a
// double click, and a third starts a new press that clicks nothing.
class GrabView final : public QWidget {
    Q_OBJECT

public:
    using DragProvider = std::function<QCoro::Task<std::shared_ptr<QMimeData>>()>;
    // Starts the drag with the prepared data; must return at once (the drag
    // itself may run later) and call finishDrag() when it ends.
    using SessionStarter = std::function<void(GrabView&, std::shared_ptr<QMimeData>, QPointF pressPoint)>;

    static constexpr double cornerSize = 26;
    static constexpr double dragThreshold = 4;

    explicit GrabView(QWidget* parent = nullptr);
    ~GrabView() override;

    std::function<bool()> isKeyboardSelected = [] { return false; };
    std::optional<QUuid> materialID;
    std::function<bool()> isContentAvailable = [] { return true; };
    DragProvider prepareDrag; // the default fails with invalidSource
    std::function<bool()> canDrag = [] { return true; };
    std::function<void(std::exception_ptr)> onDragError = [](std::exception_ptr) {};
    QImage dragImage;
    std::function<void()> onClick = [] {};
    bool singleClickImmediately = false;
    std::function<void()> onDoubleClick = [] {};
    std::function<void()> onDragStart = [] {};
    std::function<void()> onDragEnd = [] {};
    std::function<void()> onDiscard = [] {};
    std::function<void()> onLongPress = [] {};
    std::function<void(bool)> onPressChange = [](bool) {};
    // A new menu each time; the caller owns it.
    std::function<QMenu*()> menuProvider;
    // The menu holds the pointer while it is open, so the card hears of no
    // leave meanwhile: whatever follows the pointer looks again here.
    std::function<void()> onMenuClosed = [] {};
    SessionStarter beginSession;
    QString accessibleLabel;
    QString accessibleHelp;
    // A card whose centre is scrolled off the strip is not announced.
    bool outsideStrip = false;

    std::chrono::milliseconds holdDelay{450};
    // The platform's double-click interval unless set.
    std::chrono::milliseconds clickDelay;

    // True from the start of any card's drag-out to its end.
    static bool isDragging() { return dragging_; }

    void cancelDragPreparation();
    void endPress();
    void finishDrag();
    QRectF imageFrame() const;

    bool accessibilityPerformPress();
    bool accessibilityPerformShowMenu();
    // Whether assistive technology sees this card at all.
    bool isAccessibilityElement() const;
    bool isAccessibilityFocused() const;

    std::uint64_t gestureGeneration() const { return generation_; }
    bool isPressed() const { return downPoint_.has_value(); }
    bool isPreparingDrag() const { return preparing_; }
    bool hasPendingClick() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int countClick(const QMouseEvent& event);
    void startDrag(QPointF point, std::shared_ptr<QMimeData> provider);
    QCoro::Task<void> runPreparation(std::uint64_t generation);
    void popUpMenu(const QPoint& globalPosition);

    std::optional<QPointF> downPoint_;
    bool startedDrag_ = false;
    QTimer* holdTimer_ = nullptr;
    QTimer* clickWork_ = nullptr;
    bool didLongPress_ = false;
    bool preparing_ = false;
    std::optional<QPointF> pendingDragPoint_;
    std::shared_ptr<QMimeData> preparedProvider_;
    std::uint64_t generation_ = 0;

    // Click counting: the time and count of the last left press.
    std::optional<quint64> lastPressTime_;
    Qt::MouseButton lastPressButton_ = Qt::NoButton;
    int clickCount_ = 0;

    static inline bool dragging_ = false;
};

} // namespace tolvex
