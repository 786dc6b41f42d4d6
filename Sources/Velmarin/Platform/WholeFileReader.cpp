#include "Velmarin/Platform/WholeFileReader.h"

#include "TolvexCore/Files/LocalPathEncoding.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tolvex {

namespace {

[[noreturn]] void throwErrno()
{
    throw std::system_error(errno, std::generic_category());
}

} // namespace

QByteArray readWholeFile(const QString& path, std::int64_t limit)
{
    const QByteArray name = encodeLocalPath(path);
    // Non-blocking, so that opening a FIFO cannot hang; the type check follows.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throwErrno();
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throwErrno();
    if (!S_ISREG(info.st_mode))
        throw std::system_error(EINVAL, std::generic_category());
    QByteArray bytes;
    const std::int64_t wanted = limit + 1;
    bytes.resize(static_cast<qsizetype>(std::min<std::int64_t>(wanted, std::max<std::int64_t>(info.st_size, 0) + 1)));
    std::int64_t filled = 0;
    while (filled < wanted) {
        if (filled == bytes.size())
            bytes.resize(static_cast<qsizetype>(std::min<std::int64_t>(wanted, filled * 2 + 4096)));
        const ssize_t got = ::read(fd, bytes.data() + filled, static_cast<size_t>(bytes.size() - filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throwErrno();
        }
        if (got == 0)
            break;
        filled += got;
    }
    bytes.truncate(static_cast<qsizetype>(filled));
    return bytes;
}

bool isRegularFile(const QString& path)
{
    struct stat info {};
    return !path.isEmpty() && ::stat(encodeLocalPath(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace tolvex
