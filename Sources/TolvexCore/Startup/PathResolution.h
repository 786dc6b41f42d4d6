#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace tolvex::PathResolution {

// The path with ".", ".." and repeated or trailing slashes removed, without
// looking at the disk. An empty path stays empty.
QString standardized(const QString& path);

// The absolute, standardized path with every symbolic link on the way
// replaced by its target, as far as the path exists; the part that does not
// exist (yet) is kept as written. A relative path is taken from the current
// folder. Nothing when an existing part cannot be resolved (a dangling or
// looping link, no permission): callers refuse such a path. It is the path
// guard's own resolution, so start-up and the store agree on every path.
std::optional<QString> resolvingSymlinks(const QString& path);

// The same for a local file URL; the result is a local file URL without a
// trailing slash, or an empty URL when the path cannot be resolved.
QUrl resolvingSymlinks(const QUrl& url);


// The path without its last component ("/a/b" gives "/a", "/a" gives "/").
QString deletingLastComponent(const QString& path);

// `base` followed by "/" and `component`, without doubling the slash after "/".
QString appending(const QString& base, const QString& component);

} // namespace tolvex::PathResolution
