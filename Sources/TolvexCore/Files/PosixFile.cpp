#include "TolvexCore/Files/PosixFile.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {

PosixFile::~PosixFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

PosixFile PosixFile::open(const std::string& path, int flags, mode_t mode) noexcept
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return PosixFile(fd);
}

PosixFile PosixFile::openAt(int directoryFd, const char* name, int flags, mode_t mode) noexcept
{
    int fd;
    do {
        fd = ::openat(directoryFd, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return PosixFile(fd);
}

int PosixFile::release() noexcept
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int PosixFile::close() noexcept
{
    if (fd_ < 0)
        return 0;
    // Linux releases the descriptor even when close fails (EINTR included), so never retry.
    const int result = ::close(release());
    return result == 0 ? 0 : errno;
}

int PosixFile::writeAll(const char* data, std::size_t size) const noexcept
{
    while (size > 0) {
        const ssize_t written = ::write(fd_, data, std::min<std::size_t>(size, 1 << 30));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

int PosixFile::readAll(QByteArray& bytes) const noexcept
{
    struct stat status {};
    if (::fstat(fd_, &status) != 0)
        return errno;

    // A regular file's size is known: take the buffer once and fill it. The
    // generic loop below still picks up anything appended meanwhile.
    qsizetype expected = 0;
    if (S_ISREG(status.st_mode) && status.st_size > 0
        && status.st_size < std::numeric_limits<qsizetype>::max() - bytes.size())
        expected = static_cast<qsizetype>(status.st_size);

    try {
        const qsizetype start = bytes.size();
        bytes.resize(start + expected);
        qsizetype filled = 0;
        while (filled < expected) {
            const ssize_t got = ::read(fd_, bytes.data() + start + filled, static_cast<size_t>(expected - filled));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                const int error = errno;
                bytes.resize(start + filled);
                return error;
            }
            if (got == 0)
                break;
            filled += got;
        }
        bytes.resize(start + filled);

        char chunk[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (got == 0)
                return 0;
            bytes.append(chunk, got);
        }
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int PosixFile::sync() const noexcept
{
    int result;
    do {
        result = ::fsync(fd_);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

int PosixFile::syncEntries() const noexcept
{
    const int error = sync();
    // Some file systems cannot flush a folder and say so; there is nothing more to do for them.
    if (error == EINVAL || error == EROFS)
        return 0;
    return error;
}

int PosixFile::syncDirectory(const std::string& path) noexcept
{
    return syncDirectoryAt(AT_FDCWD, path);
}

int PosixFile::syncDirectoryAt(int folder, const std::string& path) noexcept
{
    const PosixFile directory = openAt(folder, path.c_str(), O_RDONLY | O_DIRECTORY);
    return directory.isOpen() ? directory.syncEntries() : errno;
}

void throwFileError(int error, std::string_view operation, std::string_view path)
{
    std::string message;
    message.reserve(operation.size() + 1 + path.size());
    message.append(operation).append(" ").append(path);
    throw std::system_error(error, std::generic_category(), message);
}

namespace {

int existingFolderOrError(int folder, const std::string& path) noexcept
{
    struct stat status {};
    if (::fstatat(folder, path.c_str(), &status, 0) == 0 && S_ISDIR(status.st_mode))
        return 0;
    return EEXIST;
}

} // namespace

int makeDirectories(const std::string& path, mode_t mode) noexcept
{
    return makeDirectoriesAt(AT_FDCWD, path, mode);
}

int makeDirectoriesAt(int folder, const std::string& path, mode_t mode) noexcept
{
    if (::mkdirat(folder, path.c_str(), mode) == 0)
        return PosixFile::syncDirectoryAt(folder, parentPath(path));
    int error = errno;
    if (error == EEXIST)
        return existingFolderOrError(folder, path);
    if (error != ENOENT)
        return error;

    const std::string parent = parentPath(path);
    if (parent == path || parent == "/" || parent == ".")
        return error;
    if (const int parentError = makeDirectoriesAt(folder, parent, mode))
        return parentError;
    if (::mkdirat(folder, path.c_str(), mode) == 0)
        return PosixFile::syncDirectoryAt(folder, parent);
    error = errno;
    return error == EEXIST ? existingFolderOrError(folder, path) : error;
}

std::string parentPath(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

void PosixFile::syncTree(const std::string& root)
{
    std::error_code error;
    std::filesystem::recursive_directory_iterator entries(root, error);
    if (error)
        throw std::system_error(error);
    std::vector<std::filesystem::path> items{root};
    for (const std::filesystem::recursive_directory_iterator end; entries != end; entries.increment(error))
        items.push_back(entries->path());
    if (error)
        throw std::system_error(error);
    for (const std::filesystem::path& item : items) {
        const PosixFile file = open(item.string(), O_RDONLY | O_NOFOLLOW);
        if (!file.isOpen())
            throw std::system_error(errno, std::generic_category());
        if (const int syncError = file.sync())
            throw std::system_error(syncError, std::generic_category());
    }
}

} // namespace tolvex
