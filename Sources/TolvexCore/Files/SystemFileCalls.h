#pragma once

// What the operations of SystemFileOperations share: the local path of a
// URL, joined names, a folder's entries, an item's info and the copy of a
// file's contents. Internal to the file layer.

#include "TolvexCore/Files/FileInfo.h"

#include <QUrl>

#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

struct stat;

namespace tolvex {

class PosixFile;

namespace detail {

// The local path of a file URL, without trailing slashes (a trailing slash
// would make lstat and rename follow a link at the end). Anything else is
// refused with EINVAL: the file layer never guesses a relative path's base.
std::string localPath(const QUrl& url, std::string_view operation);

QUrl fileUrl(const std::string& path);

// Where a call finds the item a URL names: `name` relative to the folder
// open at folder(). Below the path of a folder this process holds
// (HeldFolders), that folder is the held folder itself and `name` the rest
// of the path ("." for the held folder); elsewhere it is AT_FDCWD and `name`
// the absolute path. `path` is the local path, for messages.
struct Location {
    std::string path;
    std::shared_ptr<const PosixFile> held;
    std::string name;

    int folder() const;
    // The item's own name in the folder that holds it.
    std::string lastComponent() const;
    // The folder that holds the item; for a held folder itself, the folder
    // above it, by path (its entry there is not the held folder's own).
    Location parent() const;
    bool operator==(const Location& other) const { return held == other.held && name == other.name; }
};

// localPath() and where the item lies, as above.
Location locate(const QUrl& url, std::string_view operation);

// Opens the item (openat with O_CLOEXEC); closed on failure, errno set.
PosixFile openAt(const Location& location, int flags, mode_t mode = 0) noexcept;
// PosixFile::syncDirectoryAt of the folder at the location.
int syncFolder(const Location& location) noexcept;

std::string joined(const std::string& folder, const char* name);

// Every entry of an open folder but "." and "..". Takes ownership of `fd`;
// answers 0 or the errno of the failure.
int readEntries(int fd, std::vector<std::string>& names);

FileInfo fileInfoOf(const struct stat& status);

// How much the next read at `offset` of a file read no further than
// `maximumBytes` may take, `most` at the most: up to the limit and one byte
// past it, which tells a longer file without reading any more of it.
std::size_t boundedStep(std::int64_t maximumBytes, off_t offset, std::size_t most);

// Copies everything from `source`, read at explicit offsets so that the
// shared descriptor's position neither matters nor moves: in the kernel
// where it can (a reflink or a server-side copy on file systems that offer
// one), by reading and writing otherwise. Answers 0 or an errno: EFBIG
// once one byte past `maximumBytes` was copied (for a source someone may
// keep growing), and nothing more is read.
int copyContentsAt(int source, const PosixFile& destination,
    std::int64_t maximumBytes = std::numeric_limits<std::int64_t>::max());

} // namespace detail
} // namespace tolvex
