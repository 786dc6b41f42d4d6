#pragma once

#include "TolvexCore/Model/ImportResult.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QList>
#include <QUuid>

#include <cstdint>

namespace tolvex {

// Which cards hang on the shelf of a group, in which order, and how a new
// card is admitted. Pure functions of their arguments, callable from any
// thread. Capacity counts hanging cards of one group; every caller passes the
// largest signed 64-bit integer, so no card is ever taken down for room.
class ShelfPolicy {
public:
    ShelfPolicy() = delete;

    // Whether a new card may hang in the group: it exists and fewer than
    // `capacity` pinned cards hang there.
    static bool canAdmit(const WorkspaceSnapshot& snapshot, const QUuid& matterID, std::int64_t capacity);

    // Hangs the record in its group, taking down the oldest unpinned cards
    // for room, with an order one above every record of the group. The
    // snapshot given is never changed; the generation stays.
    static ImportResult admit(const MaterialRecord& record, const WorkspaceSnapshot& snapshot, std::int64_t capacity);

    // The hanging cards of a group: pinned first, then by order, equal keys
    // in list order; at most `capacity` of them.
    static QList<MaterialRecord> visible(const WorkspaceSnapshot& snapshot, const QUuid& matterID, std::int64_t capacity);
};

} // namespace tolvex
