#pragma once

#include <QByteArray>

#include <cstddef>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace tolvex {

// An owned file descriptor for the file layer. The I/O helpers retry on EINTR
// and on short transfers, and report failure as an errno value (0 = success)
// so that callers can undo their own work before throwing.
class PosixFile {
public:
    PosixFile() noexcept = default;
    explicit PosixFile(int fd) noexcept : fd_(fd) {}
    ~PosixFile();

    PosixFile(PosixFile&& other) noexcept : fd_(other.release()) {}
    PosixFile& operator=(PosixFile&& other) noexcept;
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    // open(2)/openat(2) with O_CLOEXEC added; the result is closed (fd -1) on
    // failure and errno is left as the call set it.
    static PosixFile open(const std::string& path, int flags, mode_t mode = 0) noexcept;
    static PosixFile openAt(int directoryFd, const char* name, int flags, mode_t mode = 0) noexcept;

    int fd() const noexcept { return fd_; }
    bool isOpen() const noexcept { return fd_ >= 0; }
    int release() noexcept;

    // Closes now and reports the close error, which can carry a delayed write error.
    int close() noexcept;

    int writeAll(const char* data, std::size_t size) const noexcept;
    // Appends everything up to the end of the file to `bytes`.
    int readAll(QByteArray& bytes) const noexcept;
    int sync() const noexcept;

    // Flushes the entries of this open folder, so that a create, rename or
    // removal inside it survives a crash.
    int syncEntries() const noexcept;
    // Opens a folder and flushes its entries.
    static int syncDirectory(const std::string& path) noexcept;
    // The same for a path relative to the open `folder` (or AT_FDCWD).
    static int syncDirectoryAt(int folder, const std::string& path) noexcept;

    // Flushes every file and folder below `root`, and `root` itself, without
    // following links; std::system_error on the first failure. For a tree
    // made by plain copies that must be durable before it is published.
    static void syncTree(const std::string& root);

private:
    int fd_ = -1;
};

// The one error form of the file layer: std::system_error with the errno and
// "<operation> <path>" as its text.
[[noreturn]] void throwFileError(int error, std::string_view operation, std::string_view path);

// mkdir -p: creates the folder and every missing folder above it with `mode`
// (less the umask), flushing each new entry into its parent. An existing
// folder, or a link to one, is fine; an existing non-folder gives EEXIST.
int makeDirectories(const std::string& path, mode_t mode) noexcept;
// The same for a path relative to the open `folder` (or AT_FDCWD).
int makeDirectoriesAt(int folder, const std::string& path, mode_t mode) noexcept;

// The folder part of a path ("." for a bare name, "/" for an item in the root),
// for paths without trailing slashes; DataRoot::lastPathComponent gives the rest.
std::string parentPath(const std::string& path);

} // namespace tolvex
