#include "Velmarin/Intake/ClipboardPollTrigger.h"

#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/ClipboardImportService.h"

#include <QPointer>

namespace tolvex {

ClipboardPollTrigger::ClipboardPollTrigger(Poll poll, QObject* parent) : QObject(parent), poll_(std::move(poll))
{
    settle_.setSingleShot(true);
    settle_.setInterval(settleTime);
    connect(&settle_, &QTimer::timeout, this, [this] { launchTask(run(), {}); });
}

ClipboardPollTrigger::Poll ClipboardPollTrigger::pollOf(std::function<ClipboardImportService*()> service)
{
    return [service = std::move(service)]() -> QCoro::Task<bool> {
        ClipboardImportService* intake = service();
        if (!intake)
            co_return true;
        // A poll now would return at once without looking.
        if (intake->isBusy() || intake->isSavingPreferences())
            co_return false;
        auto polling = intake->poll();
        co_await std::move(polling);
        co_return true;
    };
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
    bool looked = true;
    try {
        auto polling = poll_();
        looked = co_await std::move(polling);
    } catch (...) {
        // The service keeps its failures in its state; the next change polls anew.
    }
    if (!self)
        co_return;
    polling_ = false;
    // The change may have come after the poll sampled the clipboard.
    if (again_ || !looked) {
        again_ = false;
        settle_.start();
    }
}

} // namespace tolvex
