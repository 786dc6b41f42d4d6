#pragma once

#include "Velmarin/Shelf/FrameClock.h"

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <vector>

namespace tolvex::testing {

// A frame clock turned by hand: advance() moves the time on in frames of
// 1/60 s, running the frames while they are started and every delayed step
// as it falls due.
class ManualFrameClock final : public FrameClock {
public:
    static constexpr int rate = 60;

    double now() const override { return static_cast<double>(ticks_) / rate; }
    void startFrames(std::function<void()> frame) override
    {
        frame_ = std::move(frame);
        running_ = true;
    }
    void stopFrames() override { running_ = false; }
    bool framesRunning() const override { return running_; }
    void after(double seconds, QObject* context, std::function<void()> step) override
    {
        const auto due = ticks_ + std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(seconds * rate)));
        pending_.push_back({due, serial_++, context, std::move(step)});
    }

    // Runs `count` frames' worth of time; answers how many frames ran.
    int advanceFrames(std::int64_t count)
    {
        int ran = 0;
        for (std::int64_t i = 0; i < count; ++i) {
            ++ticks_;
            runDueSteps();
            if (running_ && frame_) {
                frame_();
                ++ran;
            }
        }
        frames += ran;
        return ran;
    }
    // No frame running and no step waiting.
    bool idle() const { return !running_ && pending_.empty(); }
    int advance(double seconds) { return advanceFrames(static_cast<std::int64_t>(std::llround(seconds * rate))); }
    // Frames run until nothing is left to run (no frame, no delayed step),
    // within `limit` frames' worth of time; -1 when it goes on longer.
    int framesUntilStill(int limit)
    {
        int ran = 0;
        for (int tick = 0; !idle(); ++tick) {
            if (tick >= limit)
                return -1;
            ran += advanceFrames(1);
        }
        return ran;
    }

    int frames = 0;

private:
    struct Pending {
        std::int64_t due;
        std::uint64_t serial;
        QPointer<QObject> context;
        std::function<void()> step;
    };
    void runDueSteps()
    {
        for (;;) {
            auto next = std::min_element(pending_.begin(), pending_.end(),
                [](const Pending& a, const Pending& b) { return std::tie(a.due, a.serial) < std::tie(b.due, b.serial); });
            if (next == pending_.end() || next->due > ticks_)
                return;
            Pending step = std::move(*next);
            pending_.erase(next);
            if (step.context)
                step.step();
        }
    }

    std::int64_t ticks_ = 0;
    std::uint64_t serial_ = 0;
    bool running_ = false;
    std::function<void()> frame_;
    std::vector<Pending> pending_;
};

} // namespace tolvex::testing
