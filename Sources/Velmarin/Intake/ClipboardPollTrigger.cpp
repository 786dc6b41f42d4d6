#include "Velmarin/Intake/ClipboardPollTrigger.h"

#include "Velmarin/Common/MainTask.h"

#include <QPointer>

namespace tolvex {

ClipboardPollTrigger::ClipboardPollTrigger(std::function<QCoro::Task<void>()> poll, QObject* parent)
    : QObject(parent), poll_(std::move(poll))
{
    settle_.setSingleShot(true);
    settle_.setInterval(settleTime);
    connect(&settle_, &QTimer::timeout, this, [this] { launchTask(run(), {}); });
}

void ClipboardPollTrigger::request()
{
    if (polling_)
        again_ = true;
    else if (!settle_.isActive())
        settle_.start();
}

QCoro::Task<void> ClipboardPollTrigger::run()
{
    const QPointer<ClipboardPollTrigger> self(this);
    polling_ = true;
    try {
        auto polling = poll_();
        co_await std::move(polling);
    } catch (...) {
        // The service keeps its failures in its state; the next change polls anew.
    }
    if (!self)
        co_return;
    polling_ = false;
    // The change may have come after the poll sampled the clipboard.
    if (again_) {
        again_ = false;
        settle_.start();
    }
}

} // namespace tolvex
