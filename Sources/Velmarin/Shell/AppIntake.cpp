#include "Velmarin/Shell/AppIntake.h"

#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/ClipboardPollTrigger.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/SystemPasteboard.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineIntakeController.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Shell/CapturePresentation.h"

#include <QPointer>
#include <QTimer>

namespace tolvex::AppIntake {

namespace {

// The intake's callbacks, as plain coroutines: a capturing coroutine lambda
// would leave its captures behind when the callback is replaced mid-await.
QCoro::Task<void> renderOn(QPointer<Line> line, WorkspaceSnapshot snapshot)
{
    if (!line)
        co_return;
    auto rendering = line->render(std::move(snapshot));
    co_await std::move(rendering);
}

QCoro::Task<void> presentOn(QPointer<CapturePresentation> presentation, QUuid id, std::optional<QRectF> area,
    WorkspaceSnapshot snapshot)
{
    if (!presentation)
        co_return;
    auto presenting = presentation->presentCapture(id, area, std::move(snapshot));
    co_await std::move(presenting);
}

std::function<std::int64_t()> capacityOf(QPointer<AppDelegate> self)
{
    return [self]() -> std::int64_t { return self ? Line::maxItems : 8; };
}

// The intake's alert waits until the intake's own work has returned: its
// modal loop must hold neither a poll, an import nor a drop under way.
std::function<void(std::exception_ptr)> intakeErrorOf(QPointer<AppDelegate> self, MessageKey title)
{
    return [self, title](std::exception_ptr error) {
        if (!self)
            return;
        QTimer::singleShot(0, self.data(), [self, error, title] {
            if (self)
                self->presentIntakeError(error, title);
        });
    };
}

} // namespace

std::unique_ptr<CaptureFolderCoordinator> capture(AppDelegate& delegate, MaterialStore& store)
{
    const QPointer<AppDelegate> self(&delegate);
    auto capture = std::make_unique<CaptureFolderCoordinator>(store);
    capture->privacyLine = &delegate.line();
    capture->capacity = capacityOf(self);
    capture->onSnapshot = [self](WorkspaceSnapshot snapshot) -> QCoro::Task<void> {
        return renderOn(self ? &self->line() : nullptr, std::move(snapshot));
    };
    capture->onError = [self](std::exception_ptr error) {
        if (self)
            self->presentCaptureError(error);
    };
    capture->onRootReplaced = intakeErrorOf(self, MessageKey::captureImportFailed);
    capture->onStatusChanged = [self, coordinator = capture.get()] {
        if (self && self->capture() == coordinator)
            self->refreshIntakeStatus();
    };
    // The card's picture and the flight's are made from the decode the
    // capture already did, before the card is shown.
    capture->onPicture = [self](const CapturePicture& picture) {
        if (!self)
            return;
        self->line().offerPicture(picture.sha256, picture.image, picture.typeIdentifier);
        if (CapturePresentation* presentation = self->capturePresentation())
            presentation->offerPicture(picture);
    };
    capture->onImported = [self](QUuid id, std::optional<QRectF> area, WorkspaceSnapshot snapshot) {
        return presentOn(self ? self->capturePresentation() : nullptr, id, area, std::move(snapshot));
    };
    return capture;
}

std::shared_ptr<ClipboardImportService> clipboard(
    AppDelegate& delegate, MaterialStore& store, std::shared_ptr<SystemPasteboard> pasteboard)
{
    const QPointer<AppDelegate> self(&delegate);
    auto gateway = std::make_shared<SystemClipboardGateway>(std::move(pasteboard));
    auto clipboard = std::make_shared<ClipboardImportService>(
        gateway, store, capacityOf(self), [self] { return self && !self->line().isCovered(); });
    clipboard->onSnapshot = [self](const WorkspaceSnapshot& snapshot) {
        return renderOn(self ? &self->line() : nullptr, snapshot);
    };
    clipboard->onImported = [self](const QUuid& id, const WorkspaceSnapshot& snapshot) {
        if (self && self->lineIntake() && self->lineIntake()->awaitingCompletion())
            self->lineIntake()->savedInput = true;
        return presentOn(self ? self->capturePresentation() : nullptr, id, std::nullopt, snapshot);
    };
    clipboard->onStateChanged = [self] {
        if (self)
            self->refreshIntakeStatus();
    };
    clipboard->onRootReplaced = intakeErrorOf(self, MessageKey::clipboardRejected);
    return clipboard;
}

std::unique_ptr<ClipboardPollTrigger> pollTrigger(AppDelegate& delegate, SystemPasteboard& pasteboard)
{
    const QPointer<AppDelegate> self(&delegate);
    auto trigger = std::make_unique<ClipboardPollTrigger>(
        ClipboardPollTrigger::pollOf([self] { return self ? self->clipboard() : nullptr; }));
    QObject::connect(&pasteboard, &SystemPasteboard::changed, trigger.get(), &ClipboardPollTrigger::request);
    return trigger;
}

} // namespace tolvex::AppIntake
