#include "TolvexCore/Model/NoteDraft.h"

#include "TolvexCore/Model/RecordEquality.h"

namespace tolvex {

bool operator==(const NoteDraft& a, const NoteDraft& b)
{
    return a.id == b.id && a.materialID == b.materialID && a.matterID == b.matterID
        && a.baseVersionID == b.baseVersionID && RecordEquality::same(a.text, b.text) && a.revision == b.revision
        && a.publishedRevision == b.publishedRevision && a.updatedAt == b.updatedAt;
}

} // namespace tolvex
