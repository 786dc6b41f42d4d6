#include "TolvexCore/Store/Internal/PayloadAccess.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Model/StoreError.h"

namespace tolvex {

QUrl PayloadAccess::payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID)
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
    const QByteArray bytes = context_.files->read(url);
    if (ContentStore::digest(bytes) != version->sha256)
        throw StoreError::recoveryRequired();
    return url;
}

PresentationPayloads PayloadAccess::presentationPayloads(const QList<MaterialRecord>& records)
{
    PresentationPayloads payloads;
    for (const MaterialRecord& record : records) {
        PayloadLocation location;
        try {
            location.url = payloadURL(record.id, record.activeVersionID);
        } catch (...) {
            location.error = std::current_exception();
        }
        payloads.insert(record.id, location);
    }
    return payloads;
}

} // namespace tolvex
