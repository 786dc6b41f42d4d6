#pragma once

#include "TolvexCore/Intake/ClipboardGateway.h"
#include "TolvexCore/Intake/PendingInput.h"
#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/ImportRequest.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Intake/ClipboardImportQueue.h"
#include "Velmarin/Intake/ClipboardIntakeState.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QUuid>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tolvex {

class MaterialStore;

// Brings clipboard content, pastes and drops into the store, one input at a
// time. Content that cannot be taken now stays pending, and `state` tells
// why. Lives on the GUI thread; every store call is awaited, never waited for.
//
// One intake operation runs at a time (`isBusy`); polls, pastes, drops and
// retries arriving meanwhile return at once. After every await the service
// looks again at whether it still runs, may read and is enabled, and drops
// the work when not. Destroying the service while an operation awaits the
// store is safe: the operation stops at its next check.
class ClipboardImportService {
public:
    // How often the shell's timer calls poll().
    static constexpr std::chrono::milliseconds pollInterval{500};

    using SnapshotHandler = ClipboardImportQueue::SnapshotHandler;
    using ImportedHandler = ClipboardImportQueue::ImportedHandler;

    ClipboardImportService(std::shared_ptr<ClipboardGateway> gateway, MaterialStore& store,
        std::function<std::int64_t()> capacity, std::function<bool()> canRead);
    ~ClipboardImportService();

    ClipboardImportService(const ClipboardImportService&) = delete;
    ClipboardImportService& operator=(const ClipboardImportService&) = delete;

    // Awaited after each import that changed or confirmed the shelf.
    SnapshotHandler onSnapshot;
    // Awaited for each material that now hangs.
    ImportedHandler onImported;
    // After every assignment of the state, the busy flag or the saving flag,
    // changed or not.
    std::function<void()> onStateChanged;
    // The data root was moved or replaced behind the store: nothing is saved
    // any more, the state says so, and only the user can mend it. Called
    // with the error as the state comes to say it.
    std::function<void(std::exception_ptr)> onRootReplaced;

    // Loads the stored settings and reads what is new on the clipboard.
    QCoro::Task<void> start();
    // Operations in flight stop at their next check; pending inputs stay.
    void stop();
    // One look at the clipboard; the shell calls it every pollInterval.
    QCoro::Task<void> poll();

    // Saves new settings; false when a save is already running or this one failed.
    QCoro::Task<bool> updatePreferences(ClipboardPreference preference);
    QCoro::Task<void> setEnabled(bool enabled);

    // Manual input: what is on the clipboard now, whatever the settings
    // allow; dropped or pasted requests. A manual input rehangs a taken-down
    // duplicate.
    QCoro::Task<void> pasteCurrent();
    QCoro::Task<void> receive(QList<ImportRequest> requests);
    // Reserves the service at once, so that of two quick drops only the
    // first is accepted; the import runs on.
    bool enqueueManual(QList<ImportRequest> requests);

    QCoro::Task<void> retryPending();
    // False while an operation runs; the discarded content is not read again.
    bool discardPending();

    ClipboardIntakeState state() const { return state_; }
    // What the status says of the state: the reason a refusal names (an
    // image over the pixel budget, or no image at all; a data root replaced
    // behind the program) in place of the state's own words, which would
    // blame the clipboard or the file.
    MessageKey stateMessage() const { return reason_.value_or(messageKey(state_)); }
    const ClipboardPreference& preferences() const { return preferences_; }
    bool isEnabled() const { return isEnabled_; }
    bool isSavingPreferences() const { return isSavingPreferences_; }
    bool isBusy() const { return busy_; }
    const QList<PendingInput>& pending() const { return queue_.inputs(); }
    qsizetype pendingCount() const { return queue_.inputs().size(); }
    // Input that quitting now would lose: pending, or taken in and not yet
    // prepared. Not an operation that is only reading the clipboard, or
    // handing on what the store has already saved.
    bool hasUnsavedInput() const { return queue_.holdsInput() || !queue_.isEmpty(); }
    bool canDiscardPending() const { return !busy_ && !queue_.isEmpty(); }
    // A paste or a drop may start now.
    bool canReceiveManual() const;

private:
    using Alive = std::weak_ptr<const char>;

    // `cause`: the error behind the state, whose words the status shows when it names the reason.
    void setState(ClipboardIntakeState state, std::exception_ptr cause = nullptr);
    void reject(std::exception_ptr error);
    void setBusy(bool busy);
    void setSavingPreferences(bool saving);

    QCoro::Task<Settled<WorkspaceSnapshot>> loadWorkspace();
    // The clipboard's content, or why the read failed. Another program's
    // clipboard is read off the GUI thread; only the answer is awaited.
    QCoro::Task<Settled<ClipboardContents>> readClipboard(std::optional<ClipboardPreference> allowing);
    // The workspace for a paste or a drop, or nothing: then the state says why
    // and the reservation has ended, or the service is gone and nothing was touched.
    QCoro::Task<std::optional<WorkspaceSnapshot>> workspaceForManualInput();
    QCoro::Task<void> receiveReserved(QList<ImportRequest> requests);
    // Prepares a paste or a drop and imports it, or marks it rejected;
    // answers whether the service still exists.
    QCoro::Task<bool> takeManualInput(
        QList<ImportRequest> requests, QUuid matterID, std::optional<std::int64_t> revision);

    // A failed workspace load or preparation in a poll.
    void failPoll(std::exception_ptr error, std::optional<std::int64_t> rememberedRevision,
        const QUuid& rememberedToken);

    std::shared_ptr<ClipboardGateway> gateway_;
    MaterialStore& store_;
    std::function<bool()> canRead_;

    bool isEnabled_ = true;
    ClipboardPreference preferences_;
    bool isSavingPreferences_ = false;
    ClipboardIntakeState state_ = ClipboardIntakeState::paused;
    std::optional<MessageKey> reason_;
    bool running_ = false;
    bool busy_ = false;
    bool preferenceUnavailable_ = false;
    // Why the settings could not be loaded or saved.
    std::exception_ptr preferenceFailure_;
    std::optional<std::int64_t> lastRevision_;
    QUuid preferenceToken_ = QUuid::createUuid();
    // The pending inputs, and their way into the store.
    ClipboardImportQueue queue_;

    // `unavailable` was set because a poll met a busy store. That passes by
    // itself, so an unchanged clipboard must not keep showing a failure.
    bool unavailableForBusyStore_ = false;

    std::shared_ptr<const char> lifetime_ = std::make_shared<const char>();
};

} // namespace tolvex
