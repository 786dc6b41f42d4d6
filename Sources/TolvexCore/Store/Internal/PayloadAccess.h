#pragma once

#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Store/PresentationPayloads.h"

#include <QList>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace tolvex {

class StoreContext;

// Hands out the file of a stored version only after checking that it is
// exactly the version the workspace records: a plain file of the recorded
// size, within the per-file budget, with the recorded SHA-256. Every call
// reads and hashes the whole payload again; nothing is cached.
class PayloadAccess {
public:
    explicit PayloadAccess(StoreContext& context) : context_(context) {}

    // The active version when no version id is given.
    QUrl payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID);
    // Never throws: each record's outcome is kept under its id, looked up by
    // the record's own active version id; a later record replaces an earlier one.
    PresentationPayloads presentationPayloads(const QList<MaterialRecord>& records);

private:
    StoreContext& context_;
};

} // namespace tolvex
