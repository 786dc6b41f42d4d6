#include "TolvexCore/Store/Internal/PayloadAccess.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Model/StoreError.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace tolvex {

PayloadAccess::Located PayloadAccess::locate(const QUuid& materialID, const std::optional<QUuid>& versionID)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    const MaterialRecord* material = snapshot.findMaterial(materialID);
    if (!material || material->status == MaterialStatus::trashed)
        throw StoreError::notFound();
    const MaterialVersion* version = material->findVersion(versionID.value_or(material->activeVersionID));
    if (!version)
        throw StoreError::notFound();

    const QUrl url = context_.url(version->relativePath);
    const FileInfo info = context_.files->inspect(url);
    if (!info.isRegularFile || info.isSymbolicLink || info.byteCount != version->byteCount
        || info.byteCount > context_.budget.maxFileBytes)
        throw StoreError::recoveryRequired();
    return Located{url, version->sha256, version->byteCount};
}

void PayloadAccess::verifyDigest(const Located& located) const
{
    const QByteArray bytes = context_.files->read(located.url);
    if (ContentStore::digest(bytes) != located.sha256)
        throw StoreError::recoveryRequired();
}

QUrl PayloadAccess::payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID)
{
    const Located located = locate(materialID, versionID);
    verifyDigest(located);
    return located.url;
}

PresentationPayloads PayloadAccess::presentationPayloads(const QList<MaterialRecord>& records)
{
    // One slot per record, in order; the digest of a located payload is
    // still to be checked.
    struct Slot {
        Located located;
        std::exception_ptr error;
    };
    std::vector<Slot> outcomes(static_cast<std::size_t>(records.size()));
    std::vector<std::size_t> small;
    std::vector<std::size_t> large;
    std::int64_t totalBytes = 0;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const MaterialRecord& record = records[qsizetype(i)];
        try {
            outcomes[i].located = locate(record.id, record.activeVersionID);
            totalBytes += outcomes[i].located.byteCount;
            (outcomes[i].located.byteCount > helperPayloadLimitBytes ? large : small).push_back(i);
        } catch (...) {
            outcomes[i].error = std::current_exception();
        }
    }

    const auto digestOne = [&](std::size_t index) {
        try {
            verifyDigest(outcomes[index].located);
        } catch (...) {
            outcomes[index].error = std::current_exception();
        }
    };
    // Each outcome is written by exactly one thread; the threads are joined
    // before any outcome is read.
    std::atomic<std::size_t> next{0};
    const auto drainSmall = [&] {
        for (std::size_t taken = next.fetch_add(1); taken < small.size(); taken = next.fetch_add(1))
            digestOne(small[taken]);
    };
    {
        std::vector<std::jthread> helpers;
        if (totalBytes >= parallelThresholdBytes && small.size() > 1) {
            const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
            const unsigned wanted = std::min<unsigned>({7u, cores > 1 ? cores - 1 : 1u, unsigned(small.size() - 1)});
            try {
                helpers.reserve(wanted);
                for (unsigned i = 0; i < wanted; ++i)
                    helpers.emplace_back(drainSmall);
            } catch (...) {
                // No more threads to be had: those running and this one do the
                // work, and the answer still never fails for it.
            }
        }
        for (std::size_t index : large)
            digestOne(index);
        drainSmall();
    }

    PresentationPayloads payloads;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        PayloadLocation location;
        if (outcomes[i].error)
            location.error = outcomes[i].error;
        else
            location.url = outcomes[i].located.url;
        payloads.insert(records[qsizetype(i)].id, location);
    }
    return payloads;
}

} // namespace tolvex
