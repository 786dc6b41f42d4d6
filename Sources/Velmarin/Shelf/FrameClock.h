#pragma once

#include <QObject>

#include <functional>

namespace tolvex {

// Where the shelf's motion takes its time from: the seconds now, one
// repeating frame at the display's rate while something moves, and steps
// run once a while later (a breeze's delay, a nudge's settling). The
// program's clock runs on Qt timers; tests turn a manual one by hand, so a
// minute of a still shelf takes no time. GUI thread only.
class FrameClock {
public:
    virtual ~FrameClock() = default;

    // Seconds on a clock that never goes back.
    virtual double now() const = 0;
    // Calls `frame` once per display frame until stopFrames().
    virtual void startFrames(std::function<void()> frame) = 0;
    virtual void stopFrames() = 0;
    virtual bool framesRunning() const = 0;
    // Runs `step` once, `seconds` from now, unless `context` is gone by then.
    virtual void after(double seconds, QObject* context, std::function<void()> step) = 0;
};

} // namespace tolvex
