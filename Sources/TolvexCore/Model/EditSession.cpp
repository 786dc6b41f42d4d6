#include "TolvexCore/Model/EditSession.h"

#include "TolvexCore/Model/RecordEquality.h"

namespace tolvex {

bool operator==(const EditSession& a, const EditSession& b)
{
    return a.id == b.id && a.materialID == b.materialID && a.baseVersionID == b.baseVersionID
        && RecordEquality::same(a.workingURL, b.workingURL) && a.kind == b.kind;
}

} // namespace tolvex
