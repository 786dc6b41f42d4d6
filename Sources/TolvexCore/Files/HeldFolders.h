#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tolvex {

class PosixFile;

// The folders this process holds a claim on (DataRootLock), each with the
// path it was claimed at. The file layer reaches every item below such a
// path through the held folder itself, wherever that folder now lies: a
// folder moved away with its claim keeps receiving what this process writes
// below its old path, and whatever was put at the path meanwhile (a copy
// restored from a backup, held by another program perhaps) never does.
// Internal to the file layer; safe from any thread.
class HeldFolders {
public:
    // An item below a held folder's path: the folder, open (for the *at
    // calls), and the item's path relative to it ("." for the folder itself).
    struct Below {
        std::shared_ptr<const PosixFile> folder;
        std::string relativePath;
    };

    // Adds the folder open at `descriptor` under `path` (absolute, without
    // trailing separators). It keeps a descriptor of its own, which takes no
    // part in the claim. Returns the key for withdraw(); std::system_error
    // when the folder cannot be opened again.
    static std::uint64_t enter(const std::string& path, int descriptor);
    // Takes the entry out; calls that found it before keep its folder open
    // until they end.
    static void withdraw(std::uint64_t key) noexcept;

    // The held folder that an absolute path without trailing separators
    // names or lies below: the deepest one, and of two claimed at one path
    // (the first folder was moved away before the second was claimed) the
    // later. Nothing for a path below no held folder, or one with a ".."
    // component below it (it may lead out of the folder again).
    static std::optional<Below> find(const std::string& path);
};

} // namespace tolvex
