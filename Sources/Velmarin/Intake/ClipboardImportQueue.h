#pragma once

#include "TolvexCore/Intake/PendingInput.h"
#include "TolvexCore/Model/ImportRequest.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "Velmarin/Intake/ClipboardIntakeState.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QUuid>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tolvex {

class MaterialStore;

// The clipboard service's pending inputs: a batch read, pasted or dropped,
// checked against the limits and fingerprinted, then imported into the
// store one input at a time, first to last. An input the store cannot take
// now stays first, and the state the queue settles on says why.
//
// Whether the service still runs, is enabled and may read, the queue asks
// again after every await. It lives inside the service and dies with it:
// an import awaiting the store then stops at its next check.
class ClipboardImportQueue {
public:
    using SnapshotHandler = std::function<QCoro::Task<void>(const WorkspaceSnapshot&)>;
    using ImportedHandler = std::function<QCoro::Task<void>(const QUuid& materialID, const WorkspaceSnapshot&)>;

    // What the service allows at the moment it is asked.
    struct Conditions {
        bool running = false;
        bool enabled = false;
        bool canRead = false;
    };

    // The service's side. The handlers are the service's own, looked at when
    // each is called, so that they may be set after the queue is made.
    struct Owner {
        std::function<Conditions()> conditions;
        // The state an import ends in, with the error behind it, if any.
        std::function<void(ClipboardIntakeState, std::exception_ptr cause)> settle;
        const SnapshotHandler& onSnapshot;
        const ImportedHandler& onImported;
    };

    // Marks input as held outside the pending inputs (read or handed over,
    // and not yet prepared) until it ends.
    class Hold {
    public:
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        friend class ClipboardImportQueue;
        Hold(bool& holds, std::weak_ptr<const char> alive);

        bool& holds_;
        std::weak_ptr<const char> alive_;
    };

    ClipboardImportQueue(MaterialStore& store, std::function<std::int64_t()> capacity, Owner owner);

    ClipboardImportQueue(const ClipboardImportQueue&) = delete;
    ClipboardImportQueue& operator=(const ClipboardImportQueue&) = delete;

    const QList<PendingInput>& inputs() const { return pending_; }
    bool isEmpty() const { return pending_.isEmpty(); }
    // The inputs are a paste or a drop: the settings do not hold them back,
    // and they rehang a taken-down duplicate.
    bool isManual() const { return manual_; }
    // The first input waits only because the store was busy; the next poll
    // retries it without the user having to ask.
    bool waitsForBusyStore() const { return forBusyStore_; }
    bool holdsInput() const { return holds_; }

    [[nodiscard]] Hold hold();

    // What became of a batch handed to take().
    struct Taken {
        // Why the preparation failed, leaving the pending inputs untouched;
        // none when the batch became the pending inputs and was drained.
        std::exception_ptr failure;
    };
    // Makes the batch the pending inputs, all for the group `matterID`, and
    // drains them. `revision`: the clipboard's, when the batch was read from it.
    QCoro::Task<Taken> take(
        QList<ImportRequest> requests, QUuid matterID, bool manual, std::optional<std::int64_t> revision);
    // Imports the pending inputs until none is left or one cannot be taken now.
    QCoro::Task<void> drain();
    // Drops the pending inputs; answers the clipboard revision they were read
    // at, if any, so that it is not read again.
    std::optional<std::int64_t> discard();

private:
    using Alive = std::weak_ptr<const char>;

    // Checks the whole batch against the limits, fingerprints its files and
    // makes it the pending inputs; throws and leaves them untouched otherwise.
    QCoro::Task<void> prepare(
        QList<ImportRequest> requests, QUuid matterID, bool manual, std::optional<std::int64_t> revision);
    void forget();
    // A failed workspace load or import of the first pending input.
    void fail(const PendingInput& input, std::exception_ptr error);

    MaterialStore& store_;
    std::function<std::int64_t()> capacity_;
    Owner owner_;

    QList<PendingInput> pending_;
    std::optional<std::int64_t> revision_;
    bool manual_ = false;
    bool forBusyStore_ = false;
    bool holds_ = false;

    std::shared_ptr<const char> lifetime_ = std::make_shared<const char>();
};

} // namespace tolvex
