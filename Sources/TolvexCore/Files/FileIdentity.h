#pragma once

#include <cstdint>

namespace tolvex {

// Which item a path named when it was looked at, and when it last changed:
// enough to tell, at a later look, whether a folder's entries may have
// changed meanwhile. Every change of an item's entries (an entry added,
// removed or renamed) or of its attributes sets its change time to the
// clock of the moment, and no call can set the change time back (unlike the
// modification time, which anyone may set).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool isDirectory = false;
    // Nanoseconds since the Unix epoch, as the file system keeps them.
    std::int64_t changeTime = 0;
    std::int64_t modificationTime = 0;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

} // namespace tolvex
