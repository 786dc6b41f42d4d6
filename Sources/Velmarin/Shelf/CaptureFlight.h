#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QPainter;
class QScreen;
class QWidget;

namespace tolvex {

class Line;

// Where the flying card is at one instant, in global coordinates (y down).
struct FlightFrame {
    QPointF topMiddle;   // the card's anchor: the middle of its top edge
    QSizeF size;
    double angle = 0;    // degrees, clockwise
    double cornerRadius = 0;
    double reveal = 0;   // the frame and the pin: 0 invisible … 1
    double photoInset = 0;
    double opacity = 1;  // of the whole card
};

// Carries a new capture's picture from where it was taken onto its card on
// the rope (0.65 s), or lets a taken-down card drop off the rope (0.55 s),
// in a window over one screen that takes no input and never the focus (a
// window kept from an earlier flight when there is one). It moves at every
// tick of an 8 ms timer and repaints at most once a display frame.
class CaptureFlight final : public QObject {
public:
    static constexpr double flightDuration = 0.65;
    static constexpr double fallDuration = 0.55;
    static constexpr int tickMilliseconds = 8;

    // `from` and `to` in global coordinates; `tilt` the card's, in degrees.
    CaptureFlight(QImage image, QRectF from, QRectF to, double tilt, QScreen* screen);
    ~CaptureFlight() override;

    bool falling = false;
    double duration = flightDuration;
    std::function<void()> completion = [] {};

    // Shows the window and starts the ticks; the flight is in current()
    // until it ends, then deletes itself.
    void run();

    static QList<CaptureFlight*> current();
    // Stops every flight at once; none calls its completion.
    static void cancelAll();
    // Lets the line stop every flight when it covers its content.
    static void install(Line& line);

    // The motion itself: the flight at eased progress of t, the fall at t.
    static FlightFrame flightFrame(const QRectF& from, const QRectF& to, double tilt, double t);
    static FlightFrame fallFrame(const QRectF& to, double tilt, double t);

    // The window carrying the flight; none once it has ended.
    QWidget* window() const { return window_; }
    const FlightFrame& frame() const { return frame_; }
    void tick();

private:
    void update(double t, bool force = false);
    void updateFall(double t, bool force = false);
    void finish();
    void show(const FlightFrame& frame, bool force);
    static QRect area(const FlightFrame& frame, const QPoint& windowAt);
    void putWindowAway();
    void paint(QWidget& target) const;
    // Draws the card upright, its anchor at the painter's origin.
    void drawCard(QPainter& painter, const FlightFrame& frame) const;
    static QRectF spriteArea(const FlightFrame& frame);

    QImage image_;
    QRectF from_;
    QRectF to_;
    double tilt_;
    QPointer<QWidget> window_;
    QTimer* timer_ = nullptr;
    QElapsedTimer start_;
    FlightFrame frame_;
    // The frame the window was last asked to paint, and when (seconds on
    // the shelf's frame clock).
    FlightFrame drawn_;
    std::optional<double> paintedAt_;
    static constexpr double minimumPaintGap = 0.012;
    mutable QImage sprite_;
    bool ended_ = false;

    friend class FlightWindow;
};

} // namespace tolvex
