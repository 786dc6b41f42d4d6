#include "Velmarin/Shelf/LineIntakeController.h"

#include "TolvexCore/Intake/ClipboardLimits.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/Line.h"

#include <QPointer>

namespace tolvex {

namespace {

QCoro::Task<void> paste(QPointer<LineIntakeController> controller, std::shared_ptr<ClipboardImportService> service)
{
    auto pasting = service->pasteCurrent();
    co_await std::move(pasting);
    if (controller)
        controller->refresh();
}

} // namespace

LineIntakeController::LineIntakeController(
    Line& line, std::shared_ptr<ClipboardImportService> service, QObject* parent)
    : QObject(parent), line_(line), service_(std::move(service))
{
    QPointer<LineIntakeController> self(this);
    line_.onPasteInput = [self] {
        if (!self || !self->begin())
            return;
        launchTask(paste(self, self->service_), {});
    };
    line_.onReceiveInput = [self](const QList<ImportRequest>& requests) {
        return self && self->receive(requests);
    };
}

void LineIntakeController::show(MessageKey key)
{
    line_.inputFeedback = appLocalizer().string(key);
}

bool LineIntakeController::begin()
{
    if (!awaitingCompletion_ && service_->canReceiveManual()) {
        awaitingCompletion_ = true;
        savedInput = false;
        show(MessageKey::inputReceiving);
        return true;
    }
    if (line_.snapshot().privacyHidden)
        show(MessageKey::contentHidden);
    else if (service_->pendingCount() >= 1)
        show(service_->stateMessage());
    else
        show(MessageKey::feedbackBusy);
    return false;
}

bool LineIntakeController::receive(const QList<ImportRequest>& requests)
{
    if (requests.isEmpty() || requests.size() > ClipboardLimits::items || !begin())
        return false;
    if (service_->enqueueManual(requests))
        return true;
    awaitingCompletion_ = false;
    show(MessageKey::inputNothingNew);
    return false;
}

void LineIntakeController::refresh()
{
    line_.canReceiveInput = service_->canReceiveManual();
    if (!awaitingCompletion_)
        return;
    if (service_->pendingCount() >= 1) {
        show(service_->stateMessage());
        return;
    }
    if (service_->isBusy())
        return;
    awaitingCompletion_ = false;
    const ClipboardIntakeState state = service_->state();
    if (state == ClipboardIntakeState::hidden || state == ClipboardIntakeState::unavailable
        || state == ClipboardIntakeState::rejected)
        show(service_->stateMessage());
    else
        show(savedInput ? MessageKey::inputSaved : MessageKey::inputNothingNew);
}

} // namespace tolvex
