#include "Velmarin/Intake/ClipboardImportService.h"

#include "TolvexCore/Images/ImageAdmissionError.h"
#include "TolvexCore/Intake/ClipboardLimits.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Common/MainTask.h"

namespace tolvex {

namespace {

// The words of an error that says itself why content was refused, or
// that nothing will be saved until the program starts again.
std::optional<MessageKey> reasonOf(const std::exception_ptr& error)
{
    if (!error)
        return std::nullopt;
    if (StoreError::codeOf(error) == StoreError::Code::rootReplaced)
        return MessageKey::feedbackRootReplaced;
    try {
        std::rethrow_exception(error);
    } catch (const ImageAdmissionError& refused) {
        return refused.code() == ImageAdmissionError::Code::pixelBudgetExceeded ? MessageKey::imagePixelLimit
                                                                                : MessageKey::imageInvalid;
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace

ClipboardImportService::ClipboardImportService(std::shared_ptr<ClipboardGateway> gateway, MaterialStore& store,
    std::function<std::int64_t()> capacity, std::function<bool()> canRead)
    : onSnapshot([](const WorkspaceSnapshot&) -> QCoro::Task<void> { co_return; }),
      onImported([](const QUuid&, const WorkspaceSnapshot&) -> QCoro::Task<void> { co_return; }),
      onStateChanged([] {}),
      gateway_(std::move(gateway)),
      store_(store),
      canRead_(std::move(canRead)),
      queue_(store, std::move(capacity),
          {
              .conditions = [this] { return ClipboardImportQueue::Conditions{running_, isEnabled_, canRead_()}; },
              .settle = [this](ClipboardIntakeState state, std::exception_ptr cause) { setState(state, cause); },
              .onSnapshot = onSnapshot,
              .onImported = onImported,
          })
{
}

ClipboardImportService::~ClipboardImportService() = default;

bool ClipboardImportService::canReceiveManual() const
{
    return running_ && !busy_ && !isSavingPreferences_ && queue_.isEmpty() && canRead_();
}

void ClipboardImportService::setState(ClipboardIntakeState state, std::exception_ptr cause)
{
    const bool rootWasReplaced = reason_ == MessageKey::feedbackRootReplaced;
    state_ = state;
    reason_ = reasonOf(cause);
    unavailableForBusyStore_ = false;
    if (onStateChanged)
        onStateChanged();
    // Told once as the state comes to say it, not at every poll that meets it again.
    if (reason_ == MessageKey::feedbackRootReplaced && !rootWasReplaced && onRootReplaced)
        onRootReplaced(cause);
}

void ClipboardImportService::reject(std::exception_ptr error)
{
    setState(ClipboardIntakeState::rejected, error);
}

void ClipboardImportService::setBusy(bool busy)
{
    busy_ = busy;
    if (onStateChanged)
        onStateChanged();
}

void ClipboardImportService::setSavingPreferences(bool saving)
{
    isSavingPreferences_ = saving;
    if (onStateChanged)
        onStateChanged();
}

QCoro::Task<Settled<WorkspaceSnapshot>> ClipboardImportService::loadWorkspace()
{
    // The store's load refuses with operationInProgress while its busy flag is set.
    return awaitSettled(store_.load());
}

QCoro::Task<Settled<ClipboardContents>> ClipboardImportService::readClipboard(
    std::optional<ClipboardPreference> allowing)
{
    return awaitSettled(allowing ? gateway_->readSnapshot(*allowing) : gateway_->readSnapshot());
}

QCoro::Task<void> ClipboardImportService::start()
{
    if (running_)
        co_return;
    const Alive alive = lifetime_;
    running_ = true;
    const std::int64_t startRevision = gateway_->changeCount();

    auto loading = awaitSettled(store_.clipboardPreferences());
    const Settled<ClipboardPreference> settled = co_await std::move(loading);
    if (alive.expired())
        co_return;
    if (settled.failure) {
        isEnabled_ = false;
        preferenceFailure_ = settled.failure;
        preferenceUnavailable_ = true;
        setState(ClipboardIntakeState::unavailable, settled.failure);
        co_return;
    }
    const std::optional<ClipboardPreference>& loaded = settled.value;
    preferences_ = *loaded;
    isEnabled_ = loaded->enabled;
    if (running_) {
        preferenceUnavailable_ = false;
        preferenceFailure_ = nullptr;
        // Without includeExisting, what was on the clipboard before intake began is never taken.
        lastRevision_ = loaded->includeExisting ? std::nullopt : std::optional(startRevision);
    }
    auto polling = poll();
    co_await std::move(polling);
}

void ClipboardImportService::stop()
{
    running_ = false;
}

QCoro::Task<void> ClipboardImportService::poll()
{
    if (!running_ || busy_ || isSavingPreferences_)
        co_return;
    const Alive alive = lifetime_;

    if (!queue_.isEmpty()) {
        if (queue_.waitsForBusyStore() && (queue_.isManual() || isEnabled_)) {
            setBusy(true);
            auto draining = queue_.drain();
            co_await std::move(draining);
            if (alive.expired())
                co_return;
            setBusy(false);
            co_return;
        }
        // Already pending, the state keeps the reason its failure gave.
        if (state_ != ClipboardIntakeState::changedFile && state_ != ClipboardIntakeState::pending)
            setState(ClipboardIntakeState::pending);
        co_return;
    }
    if (preferenceUnavailable_) {
        setState(ClipboardIntakeState::unavailable, preferenceFailure_);
        co_return;
    }
    if (!isEnabled_) {
        setState(ClipboardIntakeState::paused);
        co_return;
    }
    if (!canRead_()) {
        setState(ClipboardIntakeState::hidden);
        co_return;
    }

    // The timer polls twice a second whether or not anything happened. When
    // the clipboard is as it was, the state needs nothing from the store and
    // an idle store would answer nothing new, the poll ends here: no store
    // round trip, and no busy flag raised and dropped again (each of which
    // tells the status, the menus and the drop target to look again).
    if (lastRevision_ && *lastRevision_ == gateway_->changeCount() && state_ != ClipboardIntakeState::hidden
        && state_ != ClipboardIntakeState::paused && !unavailableForBusyStore_ && !store_.isBusy())
        co_return;

    const std::optional<std::int64_t> rememberedRevision = lastRevision_;
    const QUuid rememberedToken = preferenceToken_;
    setBusy(true);
    auto loading = loadWorkspace();
    const Settled<WorkspaceSnapshot> loaded = co_await std::move(loading);
    if (alive.expired())
        co_return;
    if (loaded.failure) {
        failPoll(loaded.failure, rememberedRevision, rememberedToken);
        setBusy(false);
        co_return;
    }
    const WorkspaceSnapshot& workspace = *loaded.value;
    if (!running_ || !isEnabled_) {
        setState(isEnabled_ ? ClipboardIntakeState::hidden : ClipboardIntakeState::paused);
        setBusy(false);
        co_return;
    }
    if (!canRead_() || workspace.privacyHidden) {
        setState(ClipboardIntakeState::hidden);
        setBusy(false);
        co_return;
    }

    const std::int64_t revision = gateway_->changeCount();
    if (lastRevision_ && *lastRevision_ == revision) {
        // Intake is on, readable and idle here: a state left from before
        // (the initial pause, a cover, a busy store) no longer holds.
        if (state_ == ClipboardIntakeState::hidden || state_ == ClipboardIntakeState::paused
            || unavailableForBusyStore_)
            setState(ClipboardIntakeState::active);
        setBusy(false);
        co_return;
    }

    auto reading = readClipboard(preferences_);
    const Settled<ClipboardContents> read = co_await std::move(reading);
    const std::optional<ClipboardContents>& contents = read.value;
    if (alive.expired())
        co_return;
    if (!contents) {
        // Refused content is not read again until the clipboard changes. A
        // settings save during the read has decided the state and the revision.
        if (preferenceToken_ == rememberedToken) {
            lastRevision_ = revision;
            reject(read.failure);
        }
        setBusy(false);
        co_return;
    }
    if (contents->revision != revision || gateway_->changeCount() != revision) {
        setBusy(false);
        co_return;
    }

    if (running_ && isEnabled_ && canRead_()) {
        lastRevision_ = revision;
        if (contents->isSelfProduced) {
            setState(ClipboardIntakeState::active);
        } else if (contents->requests.isEmpty() && state_ == ClipboardIntakeState::rejected) {
            // Nothing to take in is no news: the refusal stays shown. An
            // owner that died while it was read leaves an empty clipboard
            // behind, and that must not read as intake having gone well.
        } else {
            auto taking = queue_.take(contents->requests, workspace.selectedMatterID, false, revision);
            const ClipboardImportQueue::Taken taken = co_await std::move(taking);
            if (!alive.expired() && taken.failure)
                failPoll(taken.failure, rememberedRevision, rememberedToken);
            if (alive.expired())
                co_return;
        }
    }
    setBusy(false);
}

void ClipboardImportService::failPoll(std::exception_ptr error, std::optional<std::int64_t> rememberedRevision,
    const QUuid& rememberedToken)
{
    if (StoreError::codeOf(error) != StoreError::Code::operationInProgress) {
        reject(error);
        return;
    }
    // A settings save ran meanwhile and decided the state and the revision itself.
    if (preferenceToken_ != rememberedToken)
        return;
    lastRevision_ = rememberedRevision;
    setState(ClipboardIntakeState::unavailable);
    unavailableForBusyStore_ = true;
}

QCoro::Task<bool> ClipboardImportService::updatePreferences(ClipboardPreference preference)
{
    if (isSavingPreferences_)
        co_return false;
    const Alive alive = lifetime_;
    preferenceToken_ = QUuid::createUuid();
    setSavingPreferences(true);
    const std::int64_t revision = gateway_->changeCount();
    isEnabled_ = false;

    bool saved = false;
    std::exception_ptr failure;
    try {
        auto storing = awaitResult(store_.setClipboardPreferences(preference));
        co_await std::move(storing);
        saved = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (alive.expired())
        co_return false;
    if (!saved) {
        preferenceFailure_ = failure;
        preferenceUnavailable_ = true;
        setState(ClipboardIntakeState::unavailable, failure);
        setSavingPreferences(false);
        co_return false;
    }
    preferences_ = preference;
    preferenceUnavailable_ = false;
    preferenceFailure_ = nullptr;
    isEnabled_ = preference.enabled;
    setState(preference.enabled ? ClipboardIntakeState::active : ClipboardIntakeState::paused);
    lastRevision_ = preference.includeExisting ? std::nullopt : std::optional(revision);
    setSavingPreferences(false);
    if (preference.enabled) {
        auto polling = poll();
        co_await std::move(polling);
    }
    co_return true;
}

QCoro::Task<void> ClipboardImportService::setEnabled(bool enabled)
{
    ClipboardPreference preference = preferences_;
    preference.enabled = enabled;
    auto saving = updatePreferences(preference);
    co_await std::move(saving);
}

QCoro::Task<std::optional<WorkspaceSnapshot>> ClipboardImportService::workspaceForManualInput()
{
    const Alive alive = lifetime_;
    auto loading = loadWorkspace();
    Settled<WorkspaceSnapshot> loaded = co_await std::move(loading);
    if (alive.expired())
        co_return std::nullopt;
    if (loaded.failure) {
        reject(loaded.failure);
        setBusy(false);
        co_return std::nullopt;
    }
    if (!running_ || !canRead_() || loaded.value->privacyHidden) {
        setState(ClipboardIntakeState::hidden);
        setBusy(false);
        co_return std::nullopt;
    }
    co_return std::move(loaded.value);
}

QCoro::Task<void> ClipboardImportService::pasteCurrent()
{
    if (!canReceiveManual())
        co_return;
    setBusy(true);
    auto loading = workspaceForManualInput();
    const std::optional<WorkspaceSnapshot> workspace = co_await std::move(loading);
    if (!workspace)
        co_return;

    const Alive alive = lifetime_;
    const std::int64_t revision = gateway_->changeCount();
    auto reading = readClipboard(std::nullopt);
    const Settled<ClipboardContents> read = co_await std::move(reading);
    const std::optional<ClipboardContents>& contents = read.value;
    if (alive.expired())
        co_return;
    if (!contents) {
        reject(read.failure);
    } else if (contents->revision == revision && gateway_->changeCount() == revision && !contents->isSelfProduced) {
        auto taking = takeManualInput(contents->requests, workspace->selectedMatterID, revision);
        if (!co_await std::move(taking))
            co_return;
    }
    setBusy(false);
}

bool ClipboardImportService::enqueueManual(QList<ImportRequest> requests)
{
    if (!canReceiveManual() || requests.isEmpty() || requests.size() > ClipboardLimits::items)
        return false;
    setBusy(true);
    // Runs on by itself; the reservation above keeps a second drop out meanwhile.
    launchTask(receiveReserved(std::move(requests)), {});
    return true;
}

QCoro::Task<void> ClipboardImportService::receive(QList<ImportRequest> requests)
{
    if (!canReceiveManual())
        co_return;
    setBusy(true);
    auto receiving = receiveReserved(std::move(requests));
    co_await std::move(receiving);
}

QCoro::Task<void> ClipboardImportService::receiveReserved(QList<ImportRequest> requests)
{
    const ClipboardImportQueue::Hold holding = queue_.hold();
    auto loading = workspaceForManualInput();
    const std::optional<WorkspaceSnapshot> workspace = co_await std::move(loading);
    if (!workspace)
        co_return;
    auto taking = takeManualInput(std::move(requests), workspace->selectedMatterID, std::nullopt);
    if (!co_await std::move(taking))
        co_return;
    setBusy(false);
}

QCoro::Task<bool> ClipboardImportService::takeManualInput(
    QList<ImportRequest> requests, QUuid matterID, std::optional<std::int64_t> revision)
{
    const Alive alive = lifetime_;
    auto taking = queue_.take(std::move(requests), matterID, true, revision);
    const ClipboardImportQueue::Taken taken = co_await std::move(taking);
    if (alive.expired())
        co_return false;
    if (taken.failure)
        reject(taken.failure);
    co_return !alive.expired();
}

QCoro::Task<void> ClipboardImportService::retryPending()
{
    if (!running_ || !canRead_() || busy_)
        co_return;
    const Alive alive = lifetime_;
    if (queue_.isEmpty()) {
        if (isEnabled_) {
            lastRevision_.reset();
            auto polling = poll();
            co_await std::move(polling);
        } else {
            auto pasting = pasteCurrent();
            co_await std::move(pasting);
        }
        co_return;
    }
    if (!(queue_.isManual() || isEnabled_))
        co_return;
    setBusy(true);
    auto draining = queue_.drain();
    co_await std::move(draining);
    if (alive.expired())
        co_return;
    setBusy(false);
    if (queue_.isEmpty() && isEnabled_) {
        auto polling = poll();
        co_await std::move(polling);
    }
}

bool ClipboardImportService::discardPending()
{
    if (busy_)
        return false;
    if (const std::optional<std::int64_t> revision = queue_.discard())
        lastRevision_ = revision;
    setState(isEnabled_ ? ClipboardIntakeState::active : ClipboardIntakeState::paused);
    return true;
}

} // namespace tolvex
