#pragma once

#include "TolvexCore/Content/OwnedPaths.h"

#include <QHash>
#include <QString>

namespace tolvex {

// Answers the path guard's question for many paths of one snapshot at once.
// The guard resolves every component of every path; here a folder is
// resolved once, through the guard, and each path below an accepted folder
// only has its own last component looked at (without following a link).
// Whenever that look is not a plain answer (a link, an unexpected error),
// the path goes to the guard itself, so the answer is always the guard's.
//
// Use one cache for one pass (one validation): the folders it accepted are
// not looked at again, so it must not outlive the moment it describes.
class GuardedPathCache {
public:
    explicit GuardedPathCache(const OwnedPaths& paths);

    // Throws what OwnedPaths::url would throw for the path.
    void check(const QString& relativePath);

private:
    // Whether the accepted folder exists (a missing folder holds nothing).
    bool checkFolder(const QString& folder);
    // lstat of the path below the anchor: 0 missing, 1 not a link, -1 anything else.
    int lookAt(const QString& relativePath) const;

    const OwnedPaths& paths_;
    QString anchorPath_;
    QHash<QString, bool> folders_;
};

} // namespace tolvex
