#pragma once

#include <QImage>
#include <QSet>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>

namespace tolvex {

// Card pictures kept on disk between runs, so that a start shows the shelf's
// pictures without decoding its payloads again. One file per picture, named
// by the SHA-256 of the payload it was made from (the digest the store
// verified for the file the picture comes from) and by the kind of picture
// ("image-480", "pdf-480"): a payload whose digest does not match is never
// shown a picture of other bytes.
//
// The folder is private to the user (0700) and holds nothing but pictures: a
// file that is damaged, cut short or names another digest reads as absent,
// and the next picture made replaces it. Entries whose payload has left the
// workspace are forgotten (forgetAllBut).
//
// Every member touches the disk: call them on worker threads only. They may
// run on several threads at once.
class ThumbnailDiskCache {
public:
    // "$XDG_CACHE_HOME/Tolvex/Thumbnails" ("~/.cache" when XDG_CACHE_HOME is
    // unset); nullptr when the user has no cache folder.
    static std::shared_ptr<ThumbnailDiskCache> standard();

    // `folder` is the program's cache folder; pictures go to its "Thumbnails".
    explicit ThumbnailDiskCache(QString folder);

    QString thumbnailFolder() const { return thumbnails_; }
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
    // Removes every entry whose digest is not in `liveDigests`, and anything
    // else the folder holds (an abandoned partial write).
    void forgetAllBut(const QSet<QString>& liveDigests) const;

    static bool isDigest(const QString& digest);

private:
    struct OpenEntry;

    bool ensureFolders() const;
    // The entry opened for reading, its header checked; null when there is
    // no usable entry.
    std::unique_ptr<OpenEntry> openEntry(const QString& digest, const QString& kind) const;

    QString folder_;
    QString thumbnails_;
};

} // namespace tolvex
