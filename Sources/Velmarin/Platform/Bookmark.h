#pragma once

#include <QByteArray>
#include <QString>

namespace tolvex {

// A capture-folder bookmark: the folder's absolute path with the device and
// inode it had when the user chose it. Resolving gives the path back, or
// refuses it when the path now names another item: a bookmark never follows
// a folder that was moved, and never silently adopts a new one.
namespace Bookmark {

// Throws std::system_error when the folder cannot be inspected.
QByteArray create(const QString& folderPath);

// The bookmarked path. Throws StoreError::invalidSource for data that is no
// bookmark, or when the path now names another item (stale); the file
// system's error when nothing can be inspected at the path.
QString resolve(const QByteArray& bookmark);

// A folder the capture may watch: on a local volume, a directory and not a
// symbolic link. Throws the file system's error when it cannot be asked,
// StoreError::invalidPath when it is unsuitable.
void requireWatchableFolder(const QString& folderPath);

} // namespace Bookmark
} // namespace tolvex
