#include "Velmarin/Intake/ClipboardImportQueue.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Intake/ClipboardBatch.h"

namespace tolvex {

ClipboardImportQueue::Hold::Hold(bool& holds, std::weak_ptr<const char> alive)
    : holds_(holds), alive_(std::move(alive))
{
    holds_ = true;
}

ClipboardImportQueue::Hold::~Hold()
{
    if (!alive_.expired())
        holds_ = false;
}

ClipboardImportQueue::ClipboardImportQueue(
    MaterialStore& store, std::function<std::int64_t()> capacity, Owner owner)
    : store_(store), capacity_(std::move(capacity)), owner_(std::move(owner))
{
}

ClipboardImportQueue::Hold ClipboardImportQueue::hold()
{
    return Hold(holds_, lifetime_);
}

void ClipboardImportQueue::forget()
{
    pending_.clear();
    revision_.reset();
    manual_ = false;
    forBusyStore_ = false;
}

std::optional<std::int64_t> ClipboardImportQueue::discard()
{
    const std::optional<std::int64_t> revision = revision_;
    forget();
    return revision;
}

QCoro::Task<void> ClipboardImportQueue::prepare(
    QList<ImportRequest> requests, QUuid matterID, bool manual, std::optional<std::int64_t> revision)
{
    const Alive alive = lifetime_;
    const Hold holding = hold();
    auto preparing = ClipboardBatch::prepare(std::move(requests), matterID, store_, alive);
    QList<PendingInput> prepared = co_await std::move(preparing);

    const Conditions now = owner_.conditions();
    if (!now.running || !now.canRead || !(manual || now.enabled))
        throw StoreError::operationInProgress();
    pending_ = std::move(prepared);
    revision_ = revision;
    manual_ = manual;
    forBusyStore_ = false;
}

QCoro::Task<ClipboardImportQueue::Taken> ClipboardImportQueue::take(
    QList<ImportRequest> requests, QUuid matterID, bool manual, std::optional<std::int64_t> revision)
{
    const Alive alive = lifetime_;
    try {
        auto preparing = prepare(std::move(requests), matterID, manual, revision);
        co_await std::move(preparing);
    } catch (...) {
        co_return Taken{std::current_exception()};
    }
    if (alive.expired())
        co_return Taken{};
    auto draining = drain();
    co_await std::move(draining);
    co_return Taken{};
}

void ClipboardImportQueue::fail(const PendingInput& input, std::exception_ptr error)
{
    const std::optional<StoreError::Code> code = StoreError::codeOf(error);
    const bool retryable = code == StoreError::Code::operationInProgress || code == StoreError::Code::budgetExceeded
        || code == StoreError::Code::unavailableSpace;
    if (!input.fingerprint || retryable)
        owner_.settle(ClipboardIntakeState::pending, error);
    else
        owner_.settle(ClipboardIntakeState::changedFile, error);
    forBusyStore_ = code == StoreError::Code::operationInProgress;
}

QCoro::Task<void> ClipboardImportQueue::drain()
{
    const Alive alive = lifetime_;
    for (;;) {
        Conditions now = owner_.conditions();
        if (pending_.isEmpty()) {
            forget();
            if (!now.enabled)
                owner_.settle(ClipboardIntakeState::paused, nullptr);
            else
                owner_.settle(now.canRead ? ClipboardIntakeState::active : ClipboardIntakeState::hidden, nullptr);
            co_return;
        }
        const PendingInput input = pending_.first();
        if (!now.running || !(manual_ || now.enabled)) {
            owner_.settle(ClipboardIntakeState::paused, nullptr);
            co_return;
        }
        if (!now.canRead) {
            owner_.settle(ClipboardIntakeState::hidden, nullptr);
            co_return;
        }

        // The store's load refuses with operationInProgress while its busy flag is set.
        auto loading = awaitSettled(store_.load());
        const Settled<WorkspaceSnapshot> workspace = co_await std::move(loading);
        if (alive.expired())
            co_return;
        if (workspace.failure) {
            fail(input, workspace.failure);
            co_return;
        }
        now = owner_.conditions();
        if (!now.running || !(manual_ || now.enabled) || !now.canRead || workspace.value->privacyHidden) {
            owner_.settle(now.enabled ? ClipboardIntakeState::hidden : ClipboardIntakeState::paused, nullptr);
            co_return;
        }

        auto importing = awaitSettled(store_.importMaterial(input.request, input.matterID, capacity_(),
            /*deduplicateClipboardContent=*/true, input.fingerprint,
            manual_ ? DuplicateImportPolicy::rehangTakenDown : DuplicateImportPolicy::keepExisting));
        const Settled<ImportResult> imported = co_await std::move(importing);
        if (alive.expired())
            co_return;
        if (imported.failure) {
            fail(input, imported.failure);
            co_return;
        }
        const ImportResult& result = *imported.value;
        if (result.disposition.kind() == ImportDisposition::Case::shelfFull) {
            owner_.settle(ClipboardIntakeState::pending, nullptr);
            forBusyStore_ = false;
            co_return;
        }

        pending_.removeFirst();
        // The material is stored; a failing handler must not stop the rest of the batch.
        try {
            if (owner_.onSnapshot) {
                auto handled = owner_.onSnapshot(result.snapshot);
                co_await std::move(handled);
            }
        } catch (...) {
        }
        if (alive.expired())
            co_return;
        now = owner_.conditions();
        if (result.disposition.kind() == ImportDisposition::Case::hanging && now.running
            && (manual_ || now.enabled) && now.canRead) {
            try {
                if (owner_.onImported) {
                    auto announced = owner_.onImported(result.disposition.id(), result.snapshot);
                    co_await std::move(announced);
                }
            } catch (...) {
            }
            if (alive.expired())
                co_return;
        }
    }
}

} // namespace tolvex
