#include "Velmarin/Shelf/CaptureFlight.h"

#include "Velmarin/Shelf/Clothespin.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/MotionDriver.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTransform>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tolvex {

namespace {

QList<QPointer<CaptureFlight>>& flights()
{
    static QList<QPointer<CaptureFlight>> list;
    return list;
}

void removeFlight(CaptureFlight* flight)
{
    flights().removeIf([flight](const QPointer<CaptureFlight>& f) { return f.isNull() || f == flight; });
}

// At most this many flight windows wait hidden for the next flights: two
// captures in quick succession fly at once.
constexpr qsizetype spareWindowLimit = 2;

double easeInOutCubic(double t)
{
    return t < 0.5 ? 4 * t * t * t : 1 - std::pow(2 - 2 * t, 3) / 2;
}

} // namespace

// The flight's window: paints whatever frame the flight it carries is at.
// Making, mapping and first exposing a window over a whole screen took
// longer than a frame, so a window is made once and carries one flight
// after another, hidden and empty in between.
class FlightWindow final : public QWidget {
public:
    FlightWindow()
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint
                | Qt::NoDropShadowWindowHint)
    {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_DeleteOnClose, false);
    }

    // A window over `screen` for `flight`: a spare one when there is one.
    static FlightWindow* take(CaptureFlight& flight, const QRect& screen)
    {
        QList<QPointer<FlightWindow>>& spares = spareWindows();
        spares.removeIf([](const QPointer<FlightWindow>& w) { return w.isNull(); });
        FlightWindow* window = nullptr;
        for (qsizetype i = spares.size() - 1; i >= 0 && !window; --i) {
            if (spares[i]->geometry() == screen)
                window = spares.takeAt(i);
        }
        if (!window && !spares.isEmpty())
            window = spares.takeLast();
        if (!window)
            window = new FlightWindow;
        if (window->geometry() != screen && screen.isValid())
            window->setGeometry(screen);
        window->flight_ = &flight;
        return window;
    }

    // Ends the flight's use of the window: what it drew is cleared while
    // the window is still mapped, so that showing it for the next flight
    // flashes nothing old.
    void putAway(const QRect& drawn)
    {
        flight_ = nullptr;
        if (isVisible() && !drawn.isEmpty())
            repaint(drawn);
        hide();
        QList<QPointer<FlightWindow>>& spares = spareWindows();
        spares.removeIf([](const QPointer<FlightWindow>& w) { return w.isNull(); });
        spares.append(this);
        while (spares.size() > spareWindowLimit)
            spares.takeFirst()->deleteLater();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (flight_)
            flight_->paint(*this);
    }

private:
    static QList<QPointer<FlightWindow>>& spareWindows()
    {
        static QList<QPointer<FlightWindow>> list;
        return list;
    }

    QPointer<CaptureFlight> flight_;
};

CaptureFlight::CaptureFlight(QImage image, QRectF from, QRectF to, double tilt, QScreen* screen)
    : image_(std::move(image)), from_(from), to_(to), tilt_(tilt)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    window_ = FlightWindow::take(*this, screen ? screen->geometry() : QRect());
    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(tickMilliseconds);
    const QPointer<CaptureFlight> weak(this);
    connect(timer_, &QTimer::timeout, this, [weak] {
        if (weak)
            weak->tick();
    });
}

CaptureFlight::~CaptureFlight()
{
    removeFlight(this);
    putWindowAway();
}

void CaptureFlight::putWindowAway()
{
    if (!window_)
        return;
    auto* window = static_cast<FlightWindow*>(window_.data());
    window_ = nullptr;
    window->putAway(area(drawn_, window->pos()));
}

QList<CaptureFlight*> CaptureFlight::current()
{
    QList<CaptureFlight*> result;
    for (const QPointer<CaptureFlight>& flight : flights()) {
        if (flight)
            result.append(flight);
    }
    return result;
}

void CaptureFlight::install(Line& line)
{
    line.cancelFlights = [] { cancelAll(); };
}

FlightFrame CaptureFlight::flightFrame(const QRectF& from, const QRectF& to, double tilt, double t)
{
    const double e = easeInOutCubic(std::clamp(t, 0.0, 1.0));
    FlightFrame frame;
    frame.size = QSizeF(from.width() + (to.width() - from.width()) * e, from.height() + (to.height() - from.height()) * e);
    const QPointF start(from.center().x(), from.top());
    const QPointF end(to.center().x(), to.top());
    // Up is towards smaller y on screen: the path arcs 30 points above the line.
    frame.topMiddle = start + (end - start) * e - QPointF(0, 30 * std::sin(std::numbers::pi * e));
    frame.angle = e * tilt;
    frame.cornerRadius = 16 * e;
    const double r = std::clamp((e - 0.35) / 0.65, 0.0, 1.0);
    frame.reveal = r * r * (3 - 2 * r);
    frame.photoInset = 4 * e;
    return frame;
}

FlightFrame CaptureFlight::fallFrame(const QRectF& to, double tilt, double t)
{
    FlightFrame frame = flightFrame(to, to, tilt, 1);
    const double c = std::pow(std::clamp(t, 0.0, 1.0), 3);
    frame.topMiddle = QPointF(to.center().x(), to.top() + 520 * c);
    frame.angle = tilt + c * (7 * tilt + 20);
    frame.opacity = 1 - c;
    return frame;
}

void CaptureFlight::update(double t, bool force)
{
    show(flightFrame(from_, to_, tilt_, t), force || t >= 1);
}

void CaptureFlight::updateFall(double t, bool force)
{
    show(fallFrame(to_, tilt_, t), force || t >= 1);
}

QRect CaptureFlight::area(const FlightFrame& frame, const QPoint& windowAt)
{
    // The card turned about its anchor, with its pin above and its shadow
    // below, in the window's coordinates.
    QTransform turn;
    turn.translate(frame.topMiddle.x() - windowAt.x(), frame.topMiddle.y() - windowAt.y());
    turn.rotate(frame.angle);
    const QRectF card(-frame.size.width() / 2, -14, frame.size.width(), frame.size.height() + 14);
    return turn.mapRect(card).adjusted(-12, -12, 12, 18).toAlignedRect();
}

void CaptureFlight::show(const FlightFrame& frame, bool force)
{
    frame_ = frame;
    // The ticks come twice per frame of a 60 Hz display: a frame painted
    // at every tick was never seen and cost the cards' frames as much
    // again. The last frame is always painted.
    const double now = MotionDriver::shared().clock().now();
    if (!force && paintedAt_ && now - *paintedAt_ < minimumPaintGap)
        return;
    paintedAt_ = now;
    const QRect before = area(drawn_, window_->pos());
    drawn_ = frame;
    // Only the card's old and new places are painted again: the window
    // covers a whole screen.
    window_->update(QRegion(before) + area(drawn_, window_->pos()));
}

void CaptureFlight::run()
{
    if (!flights().contains(this))
        flights().append(this);
    if (falling) {
        update(1, true);
        updateFall(0, true);
    } else {
        update(0, true);
    }
    // A window that carried a flight before kept the end of its fade.
    window_->setWindowOpacity(1);
    window_->show();
    window_->raise();
    start_.start();
    timer_->start();
}

void CaptureFlight::tick()
{
    if (ended_)
        return;
    const double p = duration <= 0 ? 1.0 : std::min(start_.nsecsElapsed() / 1e9 / duration, 1.0);
    if (falling)
        updateFall(p);
    else
        update(p);
    if (p < 1)
        return;
    ended_ = true;
    timer_->stop();
    completion();
    if (falling) {
        finish();
        return;
    }
    auto* fade = new QPropertyAnimation(window_, "windowOpacity", this);
    fade->setDuration(160);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    const QPointer<CaptureFlight> weak(this);
    connect(fade, &QPropertyAnimation::finished, this, [weak] {
        if (!weak)
            return;
        weak->finish();
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void CaptureFlight::finish()
{
    removeFlight(this);
    putWindowAway();
    deleteLater();
}

void CaptureFlight::cancelAll()
{
    const QList<QPointer<CaptureFlight>> running = std::exchange(flights(), {});
    for (const QPointer<CaptureFlight>& flight : running) {
        if (!flight)
            continue;
        flight->ended_ = true;
        flight->timer_->stop();
        flight->image_ = QImage();
        for (QObject* child : flight->children()) {
            if (auto* animation = qobject_cast<QAbstractAnimation*>(child))
                animation->stop();
        }
        if (flight->window_)
            flight->window_->setWindowOpacity(0);
        flight->putWindowAway();
        flight->completion = [] {};
        flight->deleteLater();
    }
}

void CaptureFlight::paint(QWidget& target) const
{
    QPainter painter(&target);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const FlightFrame& f = drawn_;
    painter.translate(f.topMiddle - QPointF(target.geometry().topLeft()));
    if (f.angle == 0) {
        drawCard(painter, f);
        return;
    }
    // Turned, the card is drawn upright into a sprite and the sprite turned
    // once: every shape filled at an angle goes through the raster engine's
    // general rasterizer, and the rings of the shadow, the frame, the
    // photo's clip and the rim each covering the card took most of a tick.
    const qreal dpr = target.devicePixelRatioF();
    const QRectF reach = spriteArea(f);
    const QSize pixels = (reach.size() * dpr).toSize() + QSize(2, 2);
    if (sprite_.width() < pixels.width() || sprite_.height() < pixels.height())
        sprite_ = QImage(pixels.expandedTo(sprite_.size()), QImage::Format_ARGB32_Premultiplied);
    sprite_.setDevicePixelRatio(dpr);
    const QRectF used(reach.topLeft(), QSizeF(pixels) / dpr);
    {
        QPainter upright(&sprite_);
        upright.setCompositionMode(QPainter::CompositionMode_Source);
        upright.fillRect(QRectF(QPointF(), used.size()), Qt::transparent);
        upright.setCompositionMode(QPainter::CompositionMode_SourceOver);
        upright.setRenderHint(QPainter::Antialiasing);
        upright.setRenderHint(QPainter::SmoothPixmapTransform);
        upright.translate(-reach.topLeft());
        drawCard(upright, f);
    }
    painter.rotate(f.angle);
    painter.drawImage(used, sprite_, QRectF(QPointF(), QSizeF(pixels)));
}

QRectF CaptureFlight::spriteArea(const FlightFrame& f)
{
    // The card from its anchor, the shadow's widest ring (5 around, 5
    // below) and the pin standing 14 above it.
    return QRectF(-f.size.width() / 2, 0, f.size.width(), f.size.height()).adjusted(-6, -15, 6, 11);
}

void CaptureFlight::drawCard(QPainter& painter, const FlightFrame& f) const
{
    painter.setOpacity(f.opacity);
    const QRectF bounds(-f.size.width() / 2, 0, f.size.width(), f.size.height());
    // The shadow, 5 below, soft.
    painter.setPen(Qt::NoPen);
    for (int ring = 3; ring >= 1; --ring) {
        const double grow = 10.0 * ring / 3;
        painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.24 / 3));
        painter.drawRoundedRect(bounds.translated(0, 5).adjusted(-grow / 2, -grow / 2, grow / 2, grow / 2),
            f.cornerRadius + grow / 2, f.cornerRadius + grow / 2);
    }
    if (f.reveal > 0) {
        painter.setBrush(QColor::fromRgbF(0.97, 0.97, 0.97, 0.72 * f.reveal));
        painter.drawRoundedRect(bounds, f.cornerRadius, f.cornerRadius);
    }
    const QRectF photo = bounds.adjusted(f.photoInset, f.photoInset, -f.photoInset, -f.photoInset);
    if (!image_.isNull() && photo.isValid()) {
        painter.save();
        QPainterPath clip;
        const double radius = std::max(f.cornerRadius - f.photoInset, 0.0);
        clip.addRoundedRect(photo, radius, radius);
        painter.setClipPath(clip);
        // Aspect fill: the picture covers the area, cropped at the sides.
        const QSizeF filled = QSizeF(image_.size()).scaled(photo.size(), Qt::KeepAspectRatioByExpanding);
        painter.drawImage(QRectF(photo.center() - QPointF(filled.width() / 2, filled.height() / 2), filled), image_);
        painter.restore();
    }
    if (f.reveal > 0) {
        painter.save();
        painter.setOpacity(f.opacity * f.reveal);
        QLinearGradient rim(bounds.topLeft(), bounds.bottomLeft());
        rim.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.9));
        rim.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0.25));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QBrush(rim), 1.5));
        const double r = std::max(f.cornerRadius - 0.75, 0.0);
        painter.drawRoundedRect(bounds.adjusted(0.75, 0.75, -0.75, -0.75), r, r);
        // The pin stands 14 above the top edge.
        const QRectF pin(-Clothespin::width / 2, -14, Clothespin::width, Clothespin::height);
        painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.7), 0.6));
        painter.setBrush(Clothespin::metal(pin.left(), pin.width()));
        painter.drawRoundedRect(pin, 3.5, 3.5);
        painter.restore();
    }
}

} // namespace tolvex
