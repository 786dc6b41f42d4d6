#include "Velmarin/Intake/ClipboardBatch.h"

#include "TolvexCore/Intake/ClipboardLimits.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"

#include <cstdint>
#include <optional>

namespace tolvex::ClipboardBatch {

QCoro::Task<QList<PendingInput>> prepare(
    QList<ImportRequest> requests, QUuid matterID, MaterialStore& store, std::weak_ptr<const char> alive)
{
    if (requests.size() > ClipboardLimits::items)
        throw StoreError::budgetExceeded();

    QList<PendingInput> prepared;
    prepared.reserve(requests.size());
    std::int64_t total = 0;
    for (ImportRequest& request : requests) {
        std::int64_t size = 0;
        std::optional<ClipboardFileFingerprint> fingerprint;
        if (const auto* image = request.asImageData()) {
            size = image->bytes.size();
            if (size > ClipboardLimits::imageBytes)
                throw StoreError::budgetExceeded();
        } else if (const auto* text = request.asText()) {
            size = static_cast<std::int64_t>(text->text.toUtf8().size());
            if (size > ClipboardLimits::textBytes)
                throw StoreError::budgetExceeded();
        } else {
            auto fingerprinting = awaitResult(store.clipboardFileFingerprint(request.asFile()->url));
            fingerprint = co_await std::move(fingerprinting);
            if (alive.expired())
                throw StoreError::operationInProgress();
            size = fingerprint->info.byteCount;
            if (size > ClipboardLimits::fileBytes)
                throw StoreError::budgetExceeded();
        }
        if (total + size > ClipboardLimits::batchBytes)
            throw StoreError::budgetExceeded();
        total += size;
        prepared.append(PendingInput{std::move(request), matterID, std::move(fingerprint)});
    }
    co_return prepared;
}

} // namespace tolvex::ClipboardBatch
