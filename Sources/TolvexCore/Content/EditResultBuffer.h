#pragma once

#include <QByteArray>
#include <QUuid>

#include <QCoro/QCoroTask>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tolvex {

// One image handed back by the markup service, waiting to be saved.
struct PendingEditResult {
    QUuid id;
    QByteArray data;

    friend bool operator==(const PendingEditResult&, const PendingEditResult&) = default;
};

// Keeps the newest markup result in memory until it has been saved, so that a
// failed save can be retried, a quit can warn about unsaved work, and a result
// that arrives while an older one is being saved survives that save.
//
// Lives on the main thread; not copyable (its owner holds the one buffer).
class EditResultBuffer {
public:
    explicit EditResultBuffer(std::int64_t maximumBytes);
    EditResultBuffer(const EditResultBuffer&) = delete;
    EditResultBuffer& operator=(const EditResultBuffer&) = delete;

    // Keeps `data` as the new pending result, replacing any older one.
    // StoreError::budgetExceeded() for an empty buffer or one over the limit;
    // the pending result is then left as it was.
    void enqueue(const QByteArray& data);

    // Saves the pending result through `save`, which is not kept beyond the
    // call. StoreError::invalidEdit() when nothing is pending (the closure is
    // not called). A failing save passes its error on and keeps the result.
    // Hand the closure over as a named std::function: g++ 12 destroys a
    // closure converted to std::function inside a co_await expression twice
    // (`co_await buffer.persist([...](QByteArray) {...})` corrupts whatever
    // the closure captured).
    QCoro::Task<void> persist(std::function<QCoro::Task<void>(QByteArray)> save);

    // Forgets the pending result when it is the one with this id.
    void acknowledge(const QUuid& id);

    const std::optional<PendingEditResult>& pending() const { return *pending_; }

private:
    // Shared with a running persist(), which only touches it again when the
    // buffer still exists after the save.
    std::shared_ptr<std::optional<PendingEditResult>> pending_;
    std::int64_t maximumBytes_;
};

} // namespace tolvex
