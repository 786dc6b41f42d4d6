#include "TolvexCore/Store/ShelfPolicy.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace tolvex {

bool ShelfPolicy::canAdmit(const WorkspaceSnapshot& snapshot, const QUuid& matterID, std::int64_t capacity)
{
    if (capacity < 1)
        return false;
    const bool groupExists = std::any_of(snapshot.matters.cbegin(), snapshot.matters.cend(),
        [&](const MatterGroup& matter) { return matter.id == matterID; });
    if (!groupExists)
        return false;
    std::int64_t pinnedHanging = 0;
    for (const MaterialRecord& material : snapshot.materials) {
        if (material.matterID == matterID && material.status == MaterialStatus::hanging && material.pinned)
            ++pinnedHanging;
    }
    return pinnedHanging < capacity;
}

ImportResult ShelfPolicy::admit(const MaterialRecord& record, const WorkspaceSnapshot& snapshot, std::int64_t capacity)
{
    if (snapshot.findMaterial(record.id))
        return ImportResult{ImportDisposition::duplicate(record.id), snapshot};
    if (!canAdmit(snapshot, record.matterID, capacity))
        return ImportResult{ImportDisposition::shelfFull(), snapshot};

    const QUuid& matterID = record.matterID;
    // Indices of the group's unpinned hanging cards, oldest order first.
    std::vector<qsizetype> unpinned;
    std::int64_t hanging = 0;
    std::int64_t largestOrder = -1;
    for (qsizetype i = 0; i < snapshot.materials.size(); ++i) {
        const MaterialRecord& material = snapshot.materials[i];
        if (material.matterID != matterID)
            continue;
        largestOrder = std::max(largestOrder, material.order);
        if (material.status != MaterialStatus::hanging)
            continue;
        ++hanging;
        if (!material.pinned)
            unpinned.push_back(i);
    }
    // Taking cards down changes no order, so the group's largest order is known already.
    if (largestOrder == std::numeric_limits<std::int64_t>::max())
        return ImportResult{ImportDisposition::shelfFull(), snapshot};

    WorkspaceSnapshot admitted = snapshot;
    // hanging - capacity + 1, computed without overflow for any capacity >= 1.
    const std::int64_t excess = hanging >= capacity ? hanging - capacity + 1 : 0;
    if (excess > 0) {
        std::stable_sort(unpinned.begin(), unpinned.end(), [&](qsizetype a, qsizetype b) {
            return snapshot.materials[a].order < snapshot.materials[b].order;
        });
        for (std::int64_t n = 0; n < excess; ++n)
            admitted.materials[unpinned[static_cast<std::size_t>(n)]].status = MaterialStatus::takenDown;
    }

    MaterialRecord hung = record;
    hung.order = largestOrder + 1;
    hung.status = MaterialStatus::hanging;
    admitted.materials.append(hung);
    return ImportResult{ImportDisposition::hanging(record.id), admitted};
}

QList<MaterialRecord> ShelfPolicy::visible(const WorkspaceSnapshot& snapshot, const QUuid& matterID, std::int64_t capacity)
{
    QList<MaterialRecord> cards;
    for (const MaterialRecord& material : snapshot.materials) {
        if (material.matterID == matterID && material.status == MaterialStatus::hanging)
            cards.append(material);
    }
    std::stable_sort(cards.begin(), cards.end(), [](const MaterialRecord& a, const MaterialRecord& b) {
        if (a.pinned != b.pinned)
            return a.pinned;
        return a.order < b.order;
    });
    const qsizetype keep = capacity <= 0 ? 0 : static_cast<qsizetype>(std::min<std::int64_t>(capacity, cards.size()));
    cards.resize(keep);
    return cards;
}

} // namespace tolvex
