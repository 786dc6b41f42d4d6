// The privacy cover of the line: hiding takes effect at once, before the
// save; showing only once the store has saved it.
#include "Velmarin/Shelf/Line.h"

#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/FaceLoader.h"
#include "Velmarin/Shelf/LineStore.h"

#include <QDialog>
#include <QFileDialog>
#include <QWidget>

namespace tolvex {

void Line::setPrivacyHidden(bool hidden)
{
    const std::uint64_t request = ++privacyRequest_;
    privacyDesired_ = hidden;
    privacyOverride_ = true;
    coverImmediately();
    privacySaving = true;
    privacySaveFailed = false;

    auto done = std::make_shared<QPromise<void>>();
    done->start();
    QFuture<void> previous = privacyTask_;
    privacyTask_ = done->future();
    launchTask(savePrivacy(previous, request, hidden, done), [self = QPointer<Line>(this)](std::exception_ptr error) {
        if (self)
            self->reportError(error);
    });
}

QCoro::Task<void> Line::savePrivacy(
    QFuture<void> previous, std::uint64_t request, bool hidden, std::shared_ptr<QPromise<void>> done)
{
    // The next request waits for this one however it ends.
    struct Finish {
        std::shared_ptr<QPromise<void>> promise;
        ~Finish() { promise->finish(); }
    } finish{std::move(done)};

    QPointer<Line> self(this);
    // Saves reach the store in request order.
    if (previous.isValid() && !previous.isFinished()) {
        QCoro::Task<void> waiting = qCoro(previous).waitForFinished();
        co_await std::move(waiting);
    }
    if (!self || privacyRequest_ != request)
        co_return;

    std::optional<WorkspaceSnapshot> saved;
    try {
        QCoro::Task<WorkspaceSnapshot> saving
            = awaitResult(store_.apply(MaterialCommand::setPrivacyHidden(hidden), privacyCapacity));
        saved = co_await std::move(saving);
    } catch (...) {
        // The store's own error is not shown; the feedback below is.
    }
    if (!self || privacyRequest_ != request)
        co_return;

    if (!saved) {
        privacySaving = false;
        privacySaveFailed = true;
        inputFeedback = appLocalizer().string(MessageKey::privacySaveFailed);
        co_return;
    }
    privacyOverride_ = hidden;
    QCoro::Task<void> rendering = render(*saved, std::nullopt);
    co_await std::move(rendering);
    if (self && privacyRequest_ == request)
        privacySaving = false;
}

void Line::coverImmediately()
{
    if (!snapshot->privacyHidden) {
        savedKeyboardID_ = keyboardID();
        savedScrollOffset_ = scrollOffset();
        ++privacyEpoch_;
    }
    advanceGeneration();
    snapshot.modify([](WorkspaceSnapshot& s) { s.privacyHidden = true; });

    cancelOwnedModals();
    if (cancelFlights)
        cancelFlights();
    if (auto cancel = std::exchange(cancelPress, {}))
        cancel();
    pressedID = std::nullopt;
    copiedID = std::nullopt;
    if (onPrivacyHide)
        onPrivacyHide();

    // Pictures still being made for the shown line are dropped when they come.
    faces_->cancelAll();
    forgetOffers();
    presentations_.clear();
    cardKeys_.clear();
    arrivedIDs_.clear();
    items = QList<Pegged>();
    hitRects.clear();
    scrollOffset = 0;
    inputFeedback = QString();
}

void Line::cancelOwnedModals()
{
    const QString hiddenTitle = appLocalizer().string(MessageKey::contentHidden);
    // A copy: ending a modal may unregister it at once.
    const QList<QPointer<QWidget>> windows = ownedModals_.values();
    for (const QPointer<QWidget>& window : windows) {
        if (!window)
            continue;
        // Ending the dialog ends its exec() loop, sheet or application modal
        // alike; a file dialog is rejected like a cancelled panel.
        if (auto* fileDialog = qobject_cast<QFileDialog*>(window.data()))
            fileDialog->reject();
        else if (auto* dialog = qobject_cast<QDialog*>(window.data()))
            dialog->done(0);
        if (!window)
            continue;
        window->hide();
        window->setWindowTitle(hiddenTitle);
        window->setWindowFilePath(QString());
        // Hidden widgets are hidden from accessibility too.
        const QList<QWidget*> children = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* child : children)
            child->hide();
    }
}

void Line::registerModal(QWidget* window)
{
    if (window)
        ownedModals_.insert(window, window);
}

void Line::unregisterModal(const QWidget* window)
{
    ownedModals_.remove(window);
}

QList<QWidget*> Line::ownedModals() const
{
    QList<QWidget*> windows;
    for (const QPointer<QWidget>& window : ownedModals_) {
        if (window)
            windows.append(window.data());
    }
    return windows;
}

} // namespace tolvex
