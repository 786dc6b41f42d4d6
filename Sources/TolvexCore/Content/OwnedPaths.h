#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace tolvex {

// The path guard of the data root. Every file the store touches is named by a
// path relative to the root, and url() turns it into a URL only when it cannot
// leave the root: no empty, "." or ".." piece, no leading "/", no symbolic link
// at or below the root. Links in the folders above the root are fine, which is
// why the guard compares against the anchor (the root as it must look once the
// links above it are resolved) rather than against the root itself.
//
// The guard asks the file system directly (lstat/realpath), not through
// FileOperations: it checks what the disk really holds, also under a file
// layer that only pretends.
//
// Every refusal throws StoreError::invalidPath().
class OwnedPaths {
public:
    // Only the resolution of the root's parent touches the file system here.
    explicit OwnedPaths(const QUrl& root);

    // The data root, standardized ("." , ".." and repeated separators folded).
    const QUrl& root() const { return root_; }
    // The root's parent with every link resolved, plus the root's last component.
    const QUrl& anchor() const { return anchor_; }

    // The guarded URL of a path relative to the root: the root-based URL, not
    // the resolved one.
    QUrl url(const QString& relativePath) const;

    // The root, links resolved and standardized, still has the anchor's path.
    // False as well for a root that is not an absolute local path.
    bool rootIsAtAnchor() const;

    // `path` with every existing component's links resolved, the components
    // that do not exist yet appended unchanged, standardized. Empty when an
    // existing component cannot be resolved (a dangling or looping link, no
    // permission) or when `path` is not absolute.
    static std::optional<QString> resolvingSymbolicLinks(const QString& path);

    // "." , ".." and repeated separators folded, no trailing separator.
    static QString standardized(const QString& path);

private:
    QUrl root_;
    QUrl anchor_;
    QString rootPath_;
    QString anchorPath_;
};

} // namespace tolvex
