#include "Velmarin/Platform/Pasteboard.h"

#include "TolvexCore/Model/StoreError.h"

#include <QFutureInterface>

namespace tolvex {

QFuture<void> Pasteboard::readAtOnce(const QList<PasteboardItem>& items, const ItemsReader& read) const
{
    QFutureInterface<void> promise;
    promise.reportStarted();
    const std::int64_t before = changeCount();
    try {
        read(items);
        if (changeCount() != before)
            throw StoreError::sourceChanged();
    } catch (...) {
        promise.reportException(std::current_exception());
    }
    promise.reportFinished();
    return promise.future();
}

} // namespace tolvex
