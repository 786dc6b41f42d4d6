#pragma once

#include "Velmarin/Platform/PresentationSystem.h"

#include <QHash>

#include <algorithm>
#include <functional>
#include <vector>

namespace tolvex::testing {

// Screens, pointer and time under the test's hand. advance() moves the clock
// in pointer-timer steps, running due delayed steps and the timer's ticks.
class TwinSystem final : public PresentationSystem {
public:
    QList<PresentationScreen> screenList;
    QPointF pointerAt;
    double clock = 100;
    QHash<QString, FullScreen::State> states;
    std::vector<std::pair<double, std::function<void()>>> delayed;
    std::function<void()> timerTick;

    QList<PresentationScreen> screens() const override { return screenList; }
    std::optional<PresentationScreen> screenUnderPointer() const override
    {
        for (const PresentationScreen& screen : screenList) {
            if (screen.frame.contains(pointerAt))
                return screen;
        }
        return screenList.isEmpty() ? std::nullopt : std::optional(screenList.first());
    }
    QPointF pointer() const override { return pointerAt; }
    double now() const override { return clock; }
    FullScreen::State fullScreenState(const PresentationScreen& screen) const override
    {
        return states.value(screen.name, FullScreen::State::desktop);
    }
    void after(double seconds, std::function<void()> step) override { delayed.emplace_back(clock + seconds, std::move(step)); }
    void startPointerTimer(double, std::function<void()> tick) override
    {
        timerTick = std::move(tick);
        resting = false;
    }
    void stopPointerTimer() override
    {
        timerTick = nullptr;
        resting = false;
    }
    bool pointerTimerRunning() const override { return static_cast<bool>(timerTick); }
    void setPointerTimerResting(bool rest) override { resting = rest && static_cast<bool>(timerTick); }

    // A resting timer ticks when the pointer has moved (a device) and every
    // fifth of a second (a warp), as the program's does.
    void advance(double seconds)
    {
        const double end = clock + seconds;
        while (clock < end - 1e-9) {
            clock = std::min(end, clock + 1.0 / 30);
            runDue();
            if (!timerTick)
                continue;
            if (resting && pointerAt == tickedAt && clock - lastTick < restInterval - 1e-9)
                continue;
            lastTick = clock;
            tickedAt = pointerAt;
            ++ticks;
            timerTick();
        }
    }
    // A program places the pointer: no device reports it.
    void warp(const QPointF& point)
    {
        pointerAt = point;
        tickedAt = point;
    }
    static constexpr double restInterval = 0.2;
    bool resting = false;
    int ticks = 0;
    double lastTick = 0;
    QPointF tickedAt;
    void runDue()
    {
        for (auto it = delayed.begin(); it != delayed.end();) {
            if (it->first <= clock + 1e-9) {
                auto step = std::move(it->second);
                it = delayed.erase(it);
                step();
            } else {
                ++it;
            }
        }
    }
};

class TwinPanel final : public PresentationPanel {
public:
    explicit TwinPanel(const TwinSystem& system) : system_(system) {}

    QRectF frameNow;
    bool front = false;
    int orderOuts = 0;
    bool browsing = false;

    QRectF frame() const override { return frameNow; }
    void setFrame(const QRectF& frame) override { frameNow = frame; }
    std::optional<PresentationScreen> screen() const override
    {
        for (const PresentationScreen& screen : system_.screenList) {
            if (!frameNow.isEmpty() && screen.frame.contains(frameNow.center()))
                return screen;
        }
        return std::nullopt;
    }
    void orderFront() override { front = true; }
    void orderOut() override
    {
        front = false;
        ++orderOuts;
    }
    void ignoreMouseEvents() override {}
    void updateMousePassThrough(const QPointF&) override {}
    bool isKeyboardBrowsing() const override { return browsing; }
    void endKeyboardBrowsing() override { browsing = false; }

private:
    const TwinSystem& system_;
};

} // namespace tolvex::testing
