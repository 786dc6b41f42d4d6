#pragma once

#include "TolvexCore/Intake/PendingInput.h"
#include "TolvexCore/Model/ImportRequest.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QUuid>

#include <memory>

namespace tolvex {

class MaterialStore;

// A batch of clipboard content, a paste or a drop on its way to becoming
// the clipboard service's pending inputs.
namespace ClipboardBatch {

// Checks the whole batch against the clipboard limits (items, each kind's
// bytes, the batch's bytes) and fingerprints its files through the store,
// in order. Answers one pending input per request, all for the group
// `matterID`; throws budgetExceeded at the first limit broken, and
// operationInProgress when `alive` expired while a fingerprint was made.
QCoro::Task<QList<PendingInput>> prepare(
    QList<ImportRequest> requests, QUuid matterID, MaterialStore& store, std::weak_ptr<const char> alive);

} // namespace ClipboardBatch

} // namespace tolvex
