#include "TolvexCore/Model/CleanupTarget.h"
#include "TolvexCore/Model/RecordEquality.h"

namespace tolvex {

bool operator==(const CleanupFingerprint& a, const CleanupFingerprint& b)
{
    using RecordEquality::same;
    return same(a.path, b.path) && a.directory == b.directory && a.bytes == b.bytes && a.modifiedAt == b.modifiedAt
        && same(a.sha256, b.sha256);
}

bool operator==(const CleanupTarget& a, const CleanupTarget& b)
{
    using RecordEquality::same;
    return a.kind == b.kind && a.materialID == b.materialID && same(a.title, b.title)
        && same(a.relativePath, b.relativePath) && a.byteCount == b.byteCount && a.fileCount == b.fileCount
        && a.fingerprints == b.fingerprints;
}

} // namespace tolvex
