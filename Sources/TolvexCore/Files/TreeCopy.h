#pragma once

// The copy walk behind SystemFileOperations::copy. Internal to the file layer.

#include <string>

#include <sys/types.h>

namespace tolvex::detail {

// Where a copy walk stopped: the errno and the item it was at.
struct CopyFailure {
    int error;
    std::string path;
};

// One copy walk. It never follows a link, creates every item exclusively,
// flushes each copied file and folder, and refuses to copy a folder into
// itself (which would never end). Throws CopyFailure.
class TreeCopy {
public:
    // Sets `created` as soon as the destination item exists, so that the
    // caller knows there is something of its own to remove on failure.
    void copy(int sourceFolder, const std::string& sourceName, const std::string& sourcePath, int destinationFolder,
        const std::string& destinationName, const std::string& destinationPath, bool& created);

private:
    bool haveRoot_ = false;
    dev_t rootDevice_ = 0;
    ino_t rootInode_ = 0;
};

// Removes a tree that this process has just created, as far as it can.
void removeCreatedTree(int folder, const std::string& name);

} // namespace tolvex::detail
