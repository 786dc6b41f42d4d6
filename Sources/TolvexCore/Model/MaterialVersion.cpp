#include "TolvexCore/Model/MaterialVersion.h"

#include "TolvexCore/Model/RecordEquality.h"

namespace tolvex {

bool operator==(const MaterialVersion& a, const MaterialVersion& b)
{
    using RecordEquality::same;
    return a.id == b.id && same(a.relativePath, b.relativePath) && same(a.sha256, b.sha256)
        && a.byteCount == b.byteCount && a.kind == b.kind && a.createdAt == b.createdAt;
}

} // namespace tolvex
