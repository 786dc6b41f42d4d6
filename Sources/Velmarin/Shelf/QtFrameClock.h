#pragma once

#include "Velmarin/Shelf/FrameClock.h"

#include <QElapsedTimer>
#include <QTimer>

namespace tolvex {

// The frame clock of the program: a 60 Hz precise timer, a monotonic clock
// and single-shot timers.
class QtFrameClock final : public FrameClock {
public:
    QtFrameClock();

    double now() const override;
    void startFrames(std::function<void()> frame) override;
    void stopFrames() override;
    bool framesRunning() const override;
    void after(double seconds, QObject* context, std::function<void()> step) override;

private:
    QElapsedTimer clock_;
    QTimer timer_;
    std::function<void()> frame_;
};

} // namespace tolvex
