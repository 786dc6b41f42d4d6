#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <chrono>
#include <functional>

namespace tolvex::testing {

// Runs the GUI thread's events until `condition` holds or the deadline
// passes; answers whether it holds. The deadline only bounds a failing
// test: nothing is asserted about how long the wait took.
inline bool waitFor(const std::function<bool()>& condition,
    std::chrono::milliseconds deadline = std::chrono::seconds(20))
{
    const QDeadlineTimer timer(deadline);
    while (!condition()) {
        if (timer.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

} // namespace tolvex::testing
