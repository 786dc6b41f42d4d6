#pragma once

#include "TolvexCore/Files/FileIdentity.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace tolvex {

// What the storage budget check learned of the data root's folders between
// one check and the next: the names each folder held when it was listed,
// with the folder's identity as it was looked at just before. Only the
// names are kept; the kind and size of every entry are looked at again by
// every check. StorageBudgetCheck decides when a kept listing still holds.
struct BudgetFolderCache {
    struct Folder {
        FileIdentity identity;
        // Whether both times of `identity` were older than the clock, less
        // the settling time, before the folder was looked at: then any
        // later change of its entries gives it other times.
        bool settled = false;
        // The entries as the check counts them (leftovers of interrupted
        // atomic writes left out; in "Transactions" only staging files).
        QStringList names;
    };
    // By the folder's path relative to the data root.
    QHash<QString, Folder> folders;

    // Read once by every check before it looks at anything: nanoseconds since
    // the Unix epoch on the clock the file system stamps its times with.
    // Tests set it ahead to make the folders they made look settled.
    std::function<std::int64_t()> clock = systemClock;
    static std::int64_t systemClock();
};

} // namespace tolvex
