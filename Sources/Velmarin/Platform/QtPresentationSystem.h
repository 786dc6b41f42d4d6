#pragma once

#include "Velmarin/Platform/PresentationSystem.h"
#include "Velmarin/Platform/X11PointerMotion.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace tolvex {

// The presentation's screens, pointer, clock and timers over Qt. Screens are
// named as QScreen names them, which is how the full-screen state knows them.
class QtPresentationSystem final : public PresentationSystem {
public:
    using StateOfScreen = std::function<FullScreen::State(const PresentationScreen&)>;

    // Without a function the EWMH window manager is asked.
    explicit QtPresentationSystem(StateOfScreen fullScreenState = {});

    // How often a resting timer looks for a pointer a program has placed
    // (a device's motion wakes it at once). A resting line is either up
    // with the pointer out of every band, where a placed pointer then
    // reveals it up to this much later, or shown by hand with the pointer
    // away, where nothing waits on the pointer; each look is a round trip.
    static constexpr double restingLook = 0.5;

    static PresentationScreen describe(const class QScreen* screen);

    QList<PresentationScreen> screens() const override;
    std::optional<PresentationScreen> screenUnderPointer() const override;
    QPointF pointer() const override;
    double now() const override;
    FullScreen::State fullScreenState(const PresentationScreen& screen) const override;
    void after(double seconds, std::function<void()> step) override;
    void startPointerTimer(double interval, std::function<void()> tick) override;
    void stopPointerTimer() override;
    bool pointerTimerRunning() const override;
    void setPointerTimerResting(bool resting) override;
    bool pointerTimerResting() const { return resting_; }

private:
    // A resting timer ticks at its interval again from the next turn of the
    // event loop.
    void wake();
    void watchScreen(const class QScreen* screen);

    StateOfScreen fullScreenState_;
    QElapsedTimer clock_;
    // Owns the delayed steps, so none runs after the system is gone.
    QObject context_;
    QTimer pointerTimer_;
    int intervalMs_ = 33;
    bool resting_ = false;
    // Where the pointer was at the tick that let the timer rest (or the
    // last tick since): a look that finds it there again has nothing to tell.
    QPoint restedAt_;
    // Asking is what changes, not the answer: the pointer timer's ticks
    // cost no round trip while the pointer rests.
    mutable X11PointerMotion pointer_;
};

} // namespace tolvex
