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
    QObject::connect(&pointerTimer_, &QTimer::timeout, &context_, std::move(tick));
    pointerTimer_.start(static_cast<int>(std::lround(interval * 1000)));
}

void QtPresentationSystem::stopPointerTimer()
{
    pointerTimer_.stop();
    QObject::disconnect(&pointerTimer_, &QTimer::timeout, nullptr, nullptr);
}

bool QtPresentationSystem::pointerTimerRunning() const
{
    return pointerTimer_.isActive();
}

} // namespace tolvex
