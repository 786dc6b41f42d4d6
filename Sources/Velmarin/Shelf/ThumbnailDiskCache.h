#pragma once

#include <QImage>
#include <QSet>
#include <QSize>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace tolvex {

class FileOperations;

// Card pictures kept on disk between runs, so that a start shows the shelf's
// pictures without decoding its payloads again. One file per picture, named
// by the SHA-256 of the payload it was made from (the digest the store
// verified for the file the picture comes from) and by the kind of picture
// ("image-480", "pdf-480"): a payload whose digest does not match is never
// shown a picture of other bytes.
//
// Each data root has a folder of its own, so that forgetting the pictures
// one root no longer needs never takes those of another. The folders are
// private to the user (0700) and hold nothing but pictures: a file that is
// damaged, cut short or names another digest reads as absent, and the next
// picture made replaces it. Entries whose payload has left the workspace are
// forgotten (forgetAllBut).
//
// Nothing outside the cache's own folders is ever changed: a picture is
// written to a fresh file beside its entry and renamed over the entry's name
// (which replaces a link there, never its target), and an entry is read only
// when it is a regular file; a link, a FIFO or any other item in its place
// reads as absent and its name is removed.
//
// Every member touches the disk: call them on worker threads only. They may
// run on several threads at once, in one process or in several.
class ThumbnailDiskCache {
public:
    // "$XDG_CACHE_HOME/Tolvex/Thumbnails" ("~/.cache" when XDG_CACHE_HOME is
    // unset), the folder of `dataRoot` in it; nullptr when the user has no
    // cache folder or the root is no local path.
    static std::shared_ptr<ThumbnailDiskCache> standard(const QUrl& dataRoot);

    // `folder` is the program's cache folder; the pictures of `dataRoot`'s
    // payloads go to the root's folder in its "Thumbnails".
    ThumbnailDiskCache(QString folder, const QUrl& dataRoot);

    // The folder of this data root's pictures.
    QString thumbnailFolder() const { return entries_; }
    // The file of a picture; empty for a digest that is not 64 lower-case
    // hexadecimal digits or a kind that is not a plain name.
    QString entryPath(const QString& digest, const QString& kind) const;

    std::optional<QImage> read(const QString& digest, const QString& kind) const;
    // The size of a stored picture, from its header alone.
    std::optional<QSize> size(const QString& digest, const QString& kind) const;
    // Stores a picture, replacing any entry of the same name at once (a
    // reader sees the old file or the new one, never a part). False when it
    // could not be written; the cache is only a shortcut.
    bool write(const QString& digest, const QString& kind, const QImage& image) const;
    // Removes every entry of this root whose digest is not in `liveDigests`,
    // and anything else its folder holds but the pictures still being
    // written (an abandoned partial write goes once it is old). Also removes
    // what lies loose in "Thumbnails" itself: the pictures of every root were
    // kept there together before each root had a folder.
    void forgetAllBut(const QSet<QString>& liveDigests) const;

    static bool isDigest(const QString& digest);

private:
    bool ensureFolders() const;

    QString folder_;
    QString thumbnails_;
    QString entries_;
    std::shared_ptr<const FileOperations> files_;
};

} // namespace tolvex
