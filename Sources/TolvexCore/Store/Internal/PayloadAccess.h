#pragma once

#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Store/PresentationPayloads.h"

#include <QList>
#include <QUrl>
#include <QUuid>

#include <cstdint>
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
    //
    // A shelf of screenshots is a gigabyte or more to hash, so the payloads
    // are read and hashed on every core at once (up to eight threads); everything else (the
    // workspace, the path guard, the file's kind and size) is still decided
    // here on the store's thread, record by record, and each record keeps
    // exactly the outcome payloadURL would give it.
    PresentationPayloads presentationPayloads(const QList<MaterialRecord>& records);

    // Above this many bytes in all, the digests run on helper threads.
    static constexpr std::int64_t parallelThresholdBytes = 4 * 1024 * 1024;
    // A payload larger than this is hashed on the store's thread alone, so
    // that the helpers never hold more than a few such payloads in memory.
    static constexpr std::int64_t helperPayloadLimitBytes = 64 * 1024 * 1024;

private:
    struct Located {
        QUrl url;
        QString sha256;
        std::int64_t byteCount = 0;
    };
    // Every step of payloadURL up to the digest.
    Located locate(const QUuid& materialID, const std::optional<QUuid>& versionID);
    // The digest step: throws recoveryRequired when the bytes are not the version's.
    void verifyDigest(const Located& located) const;

    StoreContext& context_;
};

} // namespace tolvex
