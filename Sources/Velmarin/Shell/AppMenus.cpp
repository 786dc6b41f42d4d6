#include "Velmarin/Shell/AppMenus.h"

#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Common/UserDefaults.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Platform/EventSound.h"
#include "Velmarin/Platform/HotKey.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LinePanel.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Shell/LinePanelPresentation.h"
#include "Velmarin/Shell/ShelfPresentation.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include <QPointer>
#include <QTimer>

#include <memory>

namespace tolvex::AppMenus {

namespace {

// The service reports a failed save through its own state.
QCoro::Task<void> keepResult(std::shared_ptr<ClipboardImportService> service, ClipboardPreference preference)
{
    auto updating = service->updatePreferences(std::move(preference));
    [[maybe_unused]] const bool saved = co_await std::move(updating);
}

void confirmDiscardClipboard(AppDelegate& delegate)
{
    const Localizer localizer = appLocalizer();
    Alert alert;
    alert.setTitle(localizer.string(MessageKey::discardClipboardTitle));
    alert.setMessage(localizer.string(MessageKey::discardClipboardMessage));
    alert.addButton(localizer.string(MessageKey::keepClipboard));
    alert.addButton(localizer.string(MessageKey::discardClipboard));
    alert.setEscapeButton(0);
    const QPointer<AppDelegate> self(&delegate);
    if (delegate.runAlert(alert) == Alert::firstButtonResponse + 1 && self && self->clipboard())
        self->clipboard()->discardPending();
}

} // namespace

StatusMenu::State state(const AppDelegate& delegate)
{
    const Line& line = delegate.line();
    StatusMenu::State state;
    state.privacyHidden = line.isCovered();
    state.privacySaving = line.privacySaving();
    state.privacySaveFailed = line.privacySaveFailed();
    state.isRevealed = delegate.presentation() && delegate.presentation()->isRevealed;
    state.liveCount = line.liveCount();
    if (delegate.hotKey())
        state.hotKey = delegate.hotKey()->status();
    WorkflowRecoveryController* recovery = delegate.recovery();
    state.hasRecovery = recovery != nullptr;
    state.canUndoTakeDown = recovery && recovery->canUndoTakeDown(Date::now());
    state.hasNoteEditor = delegate.noteEditor() != nullptr;
    state.hasSettings = delegate.intakeSettings() != nullptr;
    state.markupCanRetry = Markup::shared().canRetrySaving();
    state.soundOff = delegate.defaults().boolValue(QString::fromLatin1(EventSound::soundOffKey));
    if (const ClipboardImportService* clipboard = delegate.clipboard()) {
        const ClipboardIntakeState intake = clipboard->state();
        state.clipboard = StatusMenu::ClipboardRows{clipboard->stateMessage(),
            intake == ClipboardIntakeState::pending || intake == ClipboardIntakeState::changedFile
                || intake == ClipboardIntakeState::unavailable || intake == ClipboardIntakeState::rejected,
            clipboard->isEnabled(), clipboard->isSavingPreferences(), clipboard->canReceiveManual(),
            clipboard->canDiscardPending(), clipboard->pendingCount()};
    }
    if (const CaptureFolderCoordinator* capture = delegate.capture())
        state.capture = StatusMenu::CaptureRows{capture->status(), capture->isEnabled(), capture->pending().size()};
    return state;
}

StatusMenu::Actions actions(AppDelegate& delegate)
{
    const QPointer<AppDelegate> self(&delegate);
    const QPointer<Line> line(&delegate.line());
    StatusMenu::Actions actions;
    actions.setPrivacyHidden = [line](bool hidden) {
        if (line)
            line->setPrivacyHidden(hidden);
    };
    actions.retryPrivacy = [line] {
        if (line)
            line->setPrivacyHidden(line->privacyDesired());
    };
    actions.toggleShelf = [self] {
        if (self)
            self->toggle();
    };
    actions.retryHotKey = [self] {
        if (self && self->hotKey())
            self->hotKey()->retry();
    };
    actions.keyboardBrowse = [self] {
        if (!self || self->line().isCovered())
            return;
        self->showLine();
        if (auto* shelfPanel = dynamic_cast<LinePanelPresentation*>(self->panel()); shelfPanel && shelfPanel->panel())
            shelfPanel->panel()->beginKeyboardBrowsing();
    };
    actions.takeDownAll = [self] {
        if (self && self->line().onCommand)
            self->line().onCommand(MaterialCommand::takeDownUnpinned(self->line().snapshot->selectedMatterID));
    };
    actions.showTakenDown = [self] {
        if (self && self->recovery())
            launchTask(self->recovery()->showTakenDown(), {});
    };
    actions.undoTakeDown = [self] {
        if (self && self->recovery())
            self->launchAction(self->recovery()->undoTakeDown(Date::now()));
    };
    actions.newNote = [line] {
        if (line)
            line->onNewNote()();
    };
    actions.pasteInput = [line] {
        if (line && line->onPasteInput)
            line->onPasteInput();
    };
    actions.importFiles = [self] {
        if (self)
            self->chooseFiles();
    };
    actions.openSettings = [self] {
        if (self)
            self->openSettings(0);
    };
    actions.toggleClipboard = [self] {
        if (!self || !self->clipboard())
            return;
        ClipboardPreference preference = self->clipboard()->preferences();
        preference.enabled = !self->clipboard()->isEnabled();
        launchTask(keepResult(self->clipboardService(), std::move(preference)), {});
    };
    actions.retryClipboard = [self] {
        if (self && self->clipboard())
            launchTask(self->clipboard()->retryPending(), {});
    };
    actions.discardClipboard = [self] {
        if (self)
            confirmDiscardClipboard(*self);
    };
    actions.chooseCaptureFolder = [self] {
        if (self && self->capture())
            self->capture()->chooseFolder();
    };
    actions.toggleCapture = [self] {
        if (self && self->capture())
            self->capture()->toggleEnabled();
    };
    actions.retryCapture = [self] {
        if (self && self->capture())
            self->capture()->retryPending();
    };
    actions.retryMarkup = [] { launchTask(Markup::shared().retrySaving(), {}); };
    actions.reviewPending = [self] {
        if (self && self->recovery())
            launchTask(self->recovery()->show(std::nullopt), {});
    };
    actions.toggleSound = [self] {
        if (!self)
            return;
        const QString key = QString::fromLatin1(EventSound::soundOffKey);
        self->defaults().setValue(key, !self->defaults().boolValue(key));
    };
    actions.quit = [self] {
        if (self)
            QTimer::singleShot(0, self, [self] {
                if (self)
                    self->requestQuit();
            });
    };
    if (delegate.interruptedLaunchAlert && !delegate.hasWorkflow()) {
        actions.offerRecoveryAlert = [self] {
            if (!self || !self->interruptedLaunchAlert)
                return;
            const auto [error, allowRecovery] = *self->interruptedLaunchAlert;
            self->interruptedLaunchAlert.reset();
            self->presentRecovery(error, allowRecovery);
        };
    }
    return actions;
}

} // namespace tolvex::AppMenus
