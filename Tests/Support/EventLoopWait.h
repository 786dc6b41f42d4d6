#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

namespace tolvex::testing {

// Runs the GUI thread's events until `condition` holds or the deadline
// passes; answers the condition. The deadline only bounds a broken test.
inline bool waitUntil(const std::function<bool()>& condition, int deadlineMs = 20000)
{
    QDeadlineTimer deadline(deadlineMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
        QThread::yieldCurrentThread();
    }
    return true;
}

} // namespace tolvex::testing
