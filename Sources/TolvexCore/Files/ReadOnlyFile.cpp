#include "TolvexCore/Files/ReadOnlyFile.h"

#include "TolvexCore/Files/LocalPathEncoding.h"
#include <QFile>

#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {

namespace {

[[noreturn]] void throwErrno(int error, const char* what)
{
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

ReadOnlyFile::ReadOnlyFile(int descriptor, bool regular, bool directory, std::int64_t size) noexcept
    : descriptor_(descriptor), regular_(regular), directory_(directory), size_(size)
{
}

ReadOnlyFile ReadOnlyFile::open(const QString& path, FinalLink link)
{
    const QByteArray encoded = encodeLocalPath(path);
    // A NUL would silently cut the path short in the system call.
    if (encoded.contains('\0'))
        throwErrno(EINVAL, "open");
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (link == FinalLink::refuse ? O_NOFOLLOW : 0);
    int descriptor = -1;
    do {
        descriptor = ::open(encoded.constData(), flags);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        throwErrno(errno, "open");
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        const int error = errno;
        ::close(descriptor);
        throwErrno(error, "fstat");
    }
    const bool regular = S_ISREG(status.st_mode);
    return ReadOnlyFile(
        descriptor, regular, S_ISDIR(status.st_mode), regular ? static_cast<std::int64_t>(status.st_size) : 0);
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), regular_(other.regular_), directory_(other.directory_), size_(other.size_)
{
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept
{
    if (this != &other) {
        if (descriptor_ >= 0)
            ::close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
        regular_ = other.regular_;
        directory_ = other.directory_;
        size_ = other.size_;
    }
    return *this;
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

std::int64_t ReadOnlyFile::readAt(std::int64_t offset, void* buffer, std::int64_t length) const
{
    if (offset < 0 || length < 0)
        throwErrno(EINVAL, "pread");
    auto* out = static_cast<char*>(buffer);
    std::int64_t total = 0;
    while (total < length) {
        const ssize_t count = ::pread(descriptor_, out + total, static_cast<size_t>(length - total), offset + total);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(errno, "pread");
        }
        if (count == 0)
            break;
        total += count;
    }
    return total;
}

} // namespace tolvex
