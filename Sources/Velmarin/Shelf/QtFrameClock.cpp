#include "Velmarin/Shelf/QtFrameClock.h"

#include <cmath>

namespace tolvex {

QtFrameClock::QtFrameClock()
{
    clock_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    // One step per frame of a 60 Hz display; painting faster only loads
    // the machine.
    timer_.setInterval(16);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        if (frame_)
            frame_();
    });
}

double QtFrameClock::now() const
{
    return static_cast<double>(clock_.nsecsElapsed()) / 1e9;
}

void QtFrameClock::startFrames(std::function<void()> frame)
{
    frame_ = std::move(frame);
    if (!timer_.isActive())
        timer_.start();
}

void QtFrameClock::stopFrames()
{
    timer_.stop();
}

bool QtFrameClock::framesRunning() const
{
    return timer_.isActive();
}

void QtFrameClock::after(double seconds, QObject* context, std::function<void()> step)
{
    QTimer::singleShot(static_cast<int>(std::lround(std::max(seconds, 0.0) * 1000)), context, std::move(step));
}

} // namespace tolvex
