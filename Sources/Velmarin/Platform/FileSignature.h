#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace tolvex {

// What identifies a file's content without reading it: any write,
// replacement, rename over it, chmod or removal changes one of these.
struct FileSignature {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;

    // Of the entry itself (a symbolic link is not followed); nothing unless
    // it is a regular file. `path` is in the file system's encoding.
    static std::optional<FileSignature> of(const QByteArray& path);
    // The wall clock, in the same nanoseconds as the file times.
    static std::int64_t nowNs();

    friend bool operator==(const FileSignature&, const FileSignature&) = default;
};

} // namespace tolvex
