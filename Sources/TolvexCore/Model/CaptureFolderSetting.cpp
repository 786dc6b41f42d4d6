#include "TolvexCore/Model/CaptureFolderSetting.h"

#include "TolvexCore/Model/RecordEquality.h"

namespace tolvex {

bool operator==(const CaptureFolderSetting& a, const CaptureFolderSetting& b)
{
    return a.bookmark == b.bookmark && RecordEquality::same(a.lastKnownPath, b.lastKnownPath) && a.enabled == b.enabled;
}

} // namespace tolvex
