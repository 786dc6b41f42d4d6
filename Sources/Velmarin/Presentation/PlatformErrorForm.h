#pragma once

#include <exception>
#include <system_error>

namespace tolvex {

// An error as a file manager would classify it: a domain and a code. The
// interaction feedback decides on this form for file errors.
//
// The one mapping from the file layer's std::system_error (errno) to it:
//
//   errno                  reading   writing
//   EACCES, EPERM, EROFS     257       513     no permission
//   ENOENT                   260         4     no such file
//   ENOSPC, EDQUOT           640       640     out of space (the volume or the user's quota)
//   anything else          (other domain)      -> recovery
//
// Whether the failed operation read or wrote comes from the operation name
// that the file layer puts first in the error's message ("read <path>",
// "move <path>"...): createDirectory, copy, move, writeAtomic, trash, write,
// remove and rename write; every other operation reads.
struct PlatformErrorForm {
    enum class Domain { fileManager, other };

    static constexpr int readNoPermission = 257;
    static constexpr int writeNoPermission = 513;
    static constexpr int readNoSuchFile = 260;
    static constexpr int noSuchFile = 4;
    static constexpr int writeOutOfSpace = 640;

    Domain domain = Domain::other;
    int code = 0;

    static PlatformErrorForm of(const std::system_error& error);
    // Any error; a QUnhandledException is looked through.
    static PlatformErrorForm of(std::exception_ptr error);

    friend bool operator==(const PlatformErrorForm&, const PlatformErrorForm&) = default;
};

} // namespace tolvex
