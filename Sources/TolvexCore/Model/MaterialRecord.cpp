#include "TolvexCore/Model/MaterialRecord.h"

#include "TolvexCore/Model/RecordEquality.h"

namespace tolvex {

std::optional<MaterialVersion> MaterialRecord::activeVersion() const
{
    if (const MaterialVersion* version = findVersion(activeVersionID))
        return *version;
    return std::nullopt;
}

const MaterialVersion* MaterialRecord::findVersion(const QUuid& versionID) const
{
    for (const MaterialVersion& version : versions) {
        if (version.id == versionID)
            return &version;
    }
    return nullptr;
}

bool operator==(const MaterialRecord& a, const MaterialRecord& b)
{
    using RecordEquality::same;
    return a.id == b.id && a.kind == b.kind && a.matterID == b.matterID && a.status == b.status
        && a.pinned == b.pinned && a.order == b.order && same(a.title, b.title) && a.createdAt == b.createdAt
        && a.source == b.source && a.versions == b.versions && a.originalVersionID == b.originalVersionID
        && a.activeVersionID == b.activeVersionID;
}

} // namespace tolvex
