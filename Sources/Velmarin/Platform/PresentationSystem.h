#pragma once

#include "Velmarin/Platform/FullScreen.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>

namespace tolvex {

// One screen as the shelf's presentation sees it, in global coordinates
// with y growing downwards.
struct PresentationScreen {
    QString name;
    QRectF frame;
    // The frame without the strips panels and docks reserve.
    QRectF availableFrame;
    friend bool operator==(const PresentationScreen&, const PresentationScreen&) = default;
};

// What the reveal-and-hide logic asks of the system: screens, the pointer,
// the time, delayed steps and the pointer timer. The program's is over Qt
// (Platform/); tests drive a twin by hand. GUI thread only.
class PresentationSystem {
public:
    virtual ~PresentationSystem() = default;

    // In the system's order; the first is the primary screen.
    virtual QList<PresentationScreen> screens() const = 0;
    // The screen holding the pointer, else the primary one, else none.
    virtual std::optional<PresentationScreen> screenUnderPointer() const = 0;
    virtual QPointF pointer() const = 0;
    // Seconds on a clock that never goes back.
    virtual double now() const = 0;
    virtual FullScreen::State fullScreenState(const PresentationScreen& screen) const = 0;
    // Runs the step once, that many seconds from now, on the GUI thread.
    virtual void after(double seconds, std::function<void()> step) = 0;
    // The repeating pointer timer; one at most.
    virtual void startPointerTimer(double interval, std::function<void()> tick) = 0;
    virtual void stopPointerTimer() = 0;
    virtual bool pointerTimerRunning() const = 0;
    // The last tick found that nothing changes until the pointer moves: the
    // timer may sleep until a device moves the pointer (then it ticks at its
    // interval again) and meanwhile only look again as often as a pointer
    // placed by a program (a warp, which no device reports) must be seen;
    // such a look ticks only when it finds the pointer moved. A change of
    // the screens wakes the timer as a device motion does. False, or a new
    // start, ticks at the interval. A system that cannot tell when the
    // pointer moves keeps ticking.
    virtual void setPointerTimerResting(bool resting) = 0;
};

// The shelf's panel as the presentation drives it.
class PresentationPanel {
public:
    virtual ~PresentationPanel() = default;

    virtual QRectF frame() const = 0;
    virtual void setFrame(const QRectF& frame) = 0;
    // The screen the panel lies on, none before it is placed.
    virtual std::optional<PresentationScreen> screen() const = 0;
    // Shows the panel fully opaque, above other windows, without activating.
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    // Lets every click through (the line is hidden or not tracked).
    virtual void ignoreMouseEvents() = 0;
    // Claims clicks only where the line has something under the pointer.
    virtual void updateMousePassThrough(const QPointF& globalPointer) = 0;
    virtual bool isKeyboardBrowsing() const = 0;
    virtual void endKeyboardBrowsing() = 0;
};

} // namespace tolvex
