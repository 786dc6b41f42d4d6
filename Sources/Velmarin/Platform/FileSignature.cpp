#include "Velmarin/Platform/FileSignature.h"

#include <sys/stat.h>

#include <ctime>

namespace tolvex {

namespace {

std::int64_t nanoseconds(const timespec& time)
{
    return std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

std::optional<FileSignature> FileSignature::of(const QByteArray& path)
{
    struct stat status {};
    if (path.isEmpty() || ::lstat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return FileSignature{std::uint64_t(status.st_dev), std::uint64_t(status.st_ino), std::int64_t(status.st_size),
        nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
}

std::int64_t FileSignature::nowNs()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

} // namespace tolvex
