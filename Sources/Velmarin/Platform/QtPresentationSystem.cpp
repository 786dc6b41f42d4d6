#include "Velmarin/Platform/QtPresentationSystem.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace tolvex {

QtPresentationSystem::QtPresentationSystem(StateOfScreen fullScreenState)
    : fullScreenState_(std::move(fullScreenState))
{
    clock_.start();
    pointerTimer_.setTimerType(Qt::PreciseTimer);
    // A device moved the pointer: a resting timer ticks at its interval
    // again, from the next turn of the event loop (not inside the event
    // filter that saw the motion).
    pointer_.onMoved = [this] { wake(); };
    // A resting tick is skipped while the pointer stays where it was, which
    // is only sound while the screens stay as they were too: a screen that
    // comes, goes or changes may put a band under the resting pointer.
    for (const QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
    QObject::connect(qApp, &QGuiApplication::screenAdded, &context_, [this](const QScreen* screen) {
        watchScreen(screen);
        wake();
    });
    QObject::connect(qApp, &QGuiApplication::screenRemoved, &context_, [this] { wake(); });
    QObject::connect(qApp, &QGuiApplication::primaryScreenChanged, &context_, [this] { wake(); });
}

void QtPresentationSystem::watchScreen(const QScreen* screen)
{
    QObject::connect(screen, &QScreen::geometryChanged, &context_, [this] { wake(); });
    QObject::connect(screen, &QScreen::availableGeometryChanged, &context_, [this] { wake(); });
}

void QtPresentationSystem::wake()
{
    if (!resting_ || !pointerTimer_.isActive())
        return;
    resting_ = false;
    pointerTimer_.start(0);
}

PresentationScreen QtPresentationSystem::describe(const QScreen* screen)
{
    return {screen->name(), QRectF(screen->geometry()), QRectF(screen->availableGeometry())};
}

QList<PresentationScreen> QtPresentationSystem::screens() const
{
    QList<PresentationScreen> result;
    // Qt lists the primary screen first.
    for (const QScreen* screen : QGuiApplication::screens())
        result.append(describe(screen));
    return result;
}

std::optional<PresentationScreen> QtPresentationSystem::screenUnderPointer() const
{
    if (const QScreen* screen = QGuiApplication::screenAt(pointer_.position()))
        return describe(screen);
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        return describe(primary);
    return std::nullopt;
}

QPointF QtPresentationSystem::pointer() const
{
    return pointer_.position();
}

double QtPresentationSystem::now() const
{
    return static_cast<double>(clock_.nsecsElapsed()) / 1e9;
}

FullScreen::State QtPresentationSystem::fullScreenState(const PresentationScreen& screen) const
{
    if (fullScreenState_)
        return fullScreenState_(screen);
    return FullScreen::state(screen.name);
}

void QtPresentationSystem::after(double seconds, std::function<void()> step)
{
    QTimer::singleShot(static_cast<int>(std::lround(seconds * 1000)), &context_, std::move(step));
}

void QtPresentationSystem::startPointerTimer(double interval, std::function<void()> tick)
{
    // Qt timers also fire inside menus and other nested loops.
    QObject::disconnect(&pointerTimer_, &QTimer::timeout, nullptr, nullptr);
    intervalMs_ = static_cast<int>(std::lround(interval * 1000));
    resting_ = false;
    QObject::connect(&pointerTimer_, &QTimer::timeout, &context_, [this, tick = std::move(tick)] {
        if (resting_) {
            // Only a warp can have moved the pointer unseen: ask anew. Found
            // where it was, nothing the tick looks at has changed (whatever
            // else could change it wakes the timer), so there is no tick.
            pointer_.renew();
            if (pointer_.position() == restedAt_)
                return;
        } else if (pointerTimer_.interval() != intervalMs_) {
            pointerTimer_.setInterval(intervalMs_);
        }
        tick();
        if (resting_)
            restedAt_ = pointer_.lastAnswer();
    });
    pointerTimer_.start(intervalMs_);
}

void QtPresentationSystem::setPointerTimerResting(bool resting)
{
    const bool rest = resting && pointer_.isWatching();
    if (rest == resting_ || !pointerTimer_.isActive())
        return;
    resting_ = rest;
    restedAt_ = pointer_.lastAnswer();
    pointerTimer_.start(rest ? static_cast<int>(std::lround(restingLook * 1000)) : intervalMs_);
}

void QtPresentationSystem::stopPointerTimer()
{
    resting_ = false;
    pointerTimer_.stop();
    QObject::disconnect(&pointerTimer_, &QTimer::timeout, nullptr, nullptr);
}

bool QtPresentationSystem::pointerTimerRunning() const
{
    return pointerTimer_.isActive();
}

} // namespace tolvex
