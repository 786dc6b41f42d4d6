#include "TolvexCore/Model/MatterGroup.h"

#include "TolvexCore/Model/RecordEquality.h"

namespace tolvex {

const QUuid& MatterGroup::ungroupedID()
{
    static const QUuid id = QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-000000000001"));
    return id;
}

MatterGroup MatterGroup::ungrouped()
{
    return MatterGroup{ungroupedID(), QStringLiteral("未分组"), 0};
}

bool operator==(const MatterGroup& a, const MatterGroup& b)
{
    return a.id == b.id && RecordEquality::same(a.name, b.name) && a.order == b.order;
}

} // namespace tolvex
