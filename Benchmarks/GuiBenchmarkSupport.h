#pragma once

// What the benchmarks of windows share: waiting on the GUI thread and
// timing paints.
#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <functional>

namespace tolvex::benchmarks {

// Runs the GUI thread's events until `condition` holds or the deadline
// passes; answers the condition. Polls often, so a time taken when it
// holds is close to when it came true.
inline bool runEventsUntil(const std::function<bool()>& condition, int deadlineMs)
{
    QDeadlineTimer deadline(deadlineMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

// Times each paint of the widgets it filters by painting them inside the
// filter, while `measuring`.
struct PaintDurations final : QObject {
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !measuring)
            return false;
        QElapsedTimer timer;
        timer.start();
        auto* widget = static_cast<QWidget*>(object);
        widget->removeEventFilter(this);
        QApplication::sendEvent(object, event);
        widget->installEventFilter(this);
        longest = std::max(longest, timer.nsecsElapsed());
        ++paints;
        return true;
    }
    bool measuring = true;
    qint64 longest = 0;
    int paints = 0;
};

} // namespace tolvex::benchmarks
