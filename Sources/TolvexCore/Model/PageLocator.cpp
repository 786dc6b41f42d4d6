#include "TolvexCore/Model/PageLocator.h"

#include "TolvexCore/Model/RecordEquality.h"

namespace tolvex {

bool operator==(const PageLocator& a, const PageLocator& b)
{
    if (a.isPdfIndex() != b.isPdfIndex())
        return false;
    if (a.isPdfIndex())
        return a.index() == b.index();
    return RecordEquality::same(a.label(), b.label());
}

} // namespace tolvex
