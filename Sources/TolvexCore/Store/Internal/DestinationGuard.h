#pragma once

#include "TolvexCore/Content/OwnedPaths.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace tolvex {

// Where a file the store is asked to write for a caller (an export copy)
// would land, judged against the data root.
struct DestinationPlacement {
    // The destination's local path, standardized, as the caller spelled it.
    QString path;
    // Set when the destination lies at or below the data root, however it is
    // spelled: its path relative to the root ("" for the root itself).
    std::optional<QString> relativePath;

    bool isInsideRoot() const { return relativePath.has_value(); }
    QUrl url() const { return QUrl::fromLocalFile(path); }
};

// Decides whether a destination lies inside the data root and refuses one
// reached through a symbolic link.
//
// Judging by the text of the path alone goes wrong once the data root lies
// below a linked folder (a linked home folder, a "--data-root" below a linked
// "/tmp"): every path into the root then "contains a link", and the same
// folder spelled in its resolved form looks like a place outside the root.
// So the destination's existing prefix is resolved and compared with the
// root's anchor, as the path guard does:
// - spelled through the root or through its anchor, a destination is inside
//   when the part below the root resolves to exactly itself (the links above
//   the root are allowed, none at or below it);
// - a destination that resolves into the root but is spelled some other way
//   reaches it through a link and is refused;
// - a destination outside the root must have no link anywhere on its way.
class DestinationGuard {
public:
    // StoreError::invalidPath() for a URL that is not an absolute local file
    // path, a path that cannot be resolved (a dangling or looping link, no
    // permission) and a path that reaches its place through a symbolic link.
    static DestinationPlacement place(const OwnedPaths& paths, const QUrl& destination);
};

} // namespace tolvex
