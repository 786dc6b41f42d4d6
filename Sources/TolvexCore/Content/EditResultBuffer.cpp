#include "TolvexCore/Content/EditResultBuffer.h"

#include "TolvexCore/Model/StoreError.h"

namespace tolvex {

EditResultBuffer::EditResultBuffer(std::int64_t maximumBytes)
    : pending_(std::make_shared<std::optional<PendingEditResult>>()), maximumBytes_(maximumBytes)
{
}

void EditResultBuffer::enqueue(const QByteArray& data)
{
    if (data.isEmpty() || static_cast<std::int64_t>(data.size()) > maximumBytes_)
        throw StoreError::budgetExceeded();
    *pending_ = PendingEditResult{QUuid::createUuid(), data};
}

QCoro::Task<void> EditResultBuffer::persist(std::function<QCoro::Task<void>(QByteArray)> save)
{
    if (!pending_->has_value())
        throw StoreError::invalidEdit();
    // A copy: an enqueue while the save is awaited replaces the pending result,
    // and only this copy's id may be acknowledged afterwards.
    const PendingEditResult saving = **pending_;
    const std::weak_ptr<std::optional<PendingEditResult>> state = pending_;

    QCoro::Task<void> written = save(saving.data);
    co_await std::move(written);

    // The owner may have gone while the save ran; then nothing is left to clear.
    if (const auto pending = state.lock(); pending && pending->has_value() && (*pending)->id == saving.id)
        pending->reset();
}

void EditResultBuffer::acknowledge(const QUuid& id)
{
    if (pending_->has_value() && (*pending_)->id == id)
        pending_->reset();
}

} // namespace tolvex
