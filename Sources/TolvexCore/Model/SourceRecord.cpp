#include "TolvexCore/Model/SourceRecord.h"

#include "TolvexCore/Model/RecordEquality.h"

namespace tolvex {

bool operator==(const SourceRecord& a, const SourceRecord& b)
{
    using RecordEquality::same;
    return a.origin == b.origin && same(a.filePath, b.filePath) && same(a.fileBookmark, b.fileBookmark)
        && same(a.webURL, b.webURL) && same(a.manualTitle, b.manualTitle) && same(a.locator, b.locator)
        && a.isManuallyRegistered == b.isManuallyRegistered;
}

} // namespace tolvex
