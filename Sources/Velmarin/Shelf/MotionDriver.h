#pragma once

#include "Velmarin/Shelf/FrameClock.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tolvex {

// One frame clock for every animated shelf widget, so that thirty swaying
// cards advance and repaint in the same frame instead of thirty timers
// drifting apart. A client asks for frames while it has motion under way;
// its step answers whether it wants more. With no client the clock's frames
// stop: a still shelf runs no frame at all.
class MotionDriver final : public QObject {
public:
    using Step = std::function<bool(double seconds)>;

    static MotionDriver& shared();

    // Calls `step` with the seconds since the last frame until it answers
    // false or `owner` is destroyed. A second request of the same owner
    // replaces its step.
    void request(QObject* owner, Step step);
    int activeCount() const;
    // Runs `step` once, `seconds` from now on the driver's clock, unless
    // `owner` is gone by then.
    void after(double seconds, QObject* owner, std::function<void()> step);

    FrameClock& clock() const { return *clock_; }
    // Frames run since the driver was made: clients that paint on every
    // other frame only agree on which.
    std::uint64_t frameCount() const { return frames_; }
    // Takes the time from `clock` from now on; the program keeps the Qt
    // clock, tests turn a manual one. Drops every client.
    void useClock(std::shared_ptr<FrameClock> clock);

private:
    MotionDriver();
    void frame();

    struct Client {
        QPointer<QObject> owner;
        Step step;
        // Tells a step replaced during a frame from the one that ran.
        quint64 serial = 0;
    };
    std::vector<Client> clients_;
    std::shared_ptr<FrameClock> clock_;
    double lastFrame_ = 0;
    quint64 nextSerial_ = 0;
    std::uint64_t frames_ = 0;
};

} // namespace tolvex
