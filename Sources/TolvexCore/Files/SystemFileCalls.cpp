#include "TolvexCore/Files/SystemFileCalls.h"

#include "TolvexCore/Files/HeldFolders.h"
#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/PosixFile.h"
#include "TolvexCore/Model/DataRoot.h"

#include <cerrno>
#include <memory>
#include <new>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::detail {

namespace {

Date dateOf(const struct timespec& time)
{
    // Subtract in integers first: a double keeps the nanoseconds better around 0 than around 1.7e9.
    const auto seconds = static_cast<double>(time.tv_sec - static_cast<time_t>(Date::unixOffset));
    return Date{seconds + static_cast<double>(time.tv_nsec) / 1e9};
}

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};
using DirectoryHandle = std::unique_ptr<DIR, DirectoryCloser>;

} // namespace

std::string localPath(const QUrl& url, std::string_view operation)
{
    // The exact bytes, also of a URL parsed from text: toLocalFile() would
    // read an escaped byte that is not UTF-8 as U+FFFD and so name another file.
    const std::optional<QString> path = url.isLocalFile() && url.host().isEmpty() ? exactLocalPath(url) : std::nullopt;
    if (!path)
        throwFileError(EINVAL, operation, url.toString().toStdString());
    std::string bytes = encodeLocalPath(*path).toStdString();
    while (bytes.size() > 1 && bytes.back() == '/')
        bytes.pop_back();
    return bytes;
}

QUrl fileUrl(const std::string& path)
{
    return QUrl::fromLocalFile(decodeLocalPath(path));
}

int Location::folder() const
{
    return held ? held->fd() : AT_FDCWD;
}

std::string Location::lastComponent() const
{
    return DataRoot::lastPathComponent(name);
}

Location Location::parent() const
{
    const std::string parentOfPath = parentPath(path);
    if (!held || name == ".")
        return Location{parentOfPath, nullptr, parentOfPath};
    const std::string parentName = parentPath(name);
    return Location{parentOfPath, held, parentName};
}

Location locate(const QUrl& url, std::string_view operation)
{
    const std::string path = localPath(url, operation);
    if (std::optional<HeldFolders::Below> below = HeldFolders::find(path))
        return Location{path, std::move(below->folder), std::move(below->relativePath)};
    return Location{path, nullptr, path};
}

PosixFile openAt(const Location& location, int flags, mode_t mode) noexcept
{
    return PosixFile::openAt(location.folder(), location.name.c_str(), flags, mode);
}

int syncFolder(const Location& location) noexcept
{
    return PosixFile::syncDirectoryAt(location.folder(), location.name);
}

std::string joined(const std::string& folder, const char* name)
{
    std::string path = folder;
    if (path.back() != '/')
        path += '/';
    path += name;
    return path;
}

int readEntries(int fd, std::vector<std::string>& names)
{
    DirectoryHandle directory(::fdopendir(fd));
    if (!directory) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory.get());
        if (!entry)
            return errno;
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
}

FileInfo fileInfoOf(const struct stat& status)
{
    FileInfo info;
    info.isRegularFile = S_ISREG(status.st_mode);
    info.isSymbolicLink = S_ISLNK(status.st_mode);
    info.byteCount = status.st_size > 0 ? static_cast<std::int64_t>(status.st_size) : 0;
    info.modificationDate = dateOf(status.st_mtim);
    return info;
}

std::size_t boundedStep(std::int64_t maximumBytes, off_t offset, std::size_t most)
{
    const std::int64_t left = maximumBytes - static_cast<std::int64_t>(offset);
    return left >= static_cast<std::int64_t>(most) ? most : static_cast<std::size_t>(left) + 1;
}

int copyContentsAt(int source, const PosixFile& destination, std::int64_t maximumBytes)
{
    if (maximumBytes < 0)
        return EINVAL;
    off_t offset = 0;
    bool copiedAny = false;
    for (;;) {
        const ssize_t copied = ::copy_file_range(source, &offset, destination.fd(), nullptr, boundedStep(maximumBytes, offset, 1 << 30), 0);
        if (copied > 0) {
            copiedAny = true;
            if (offset > maximumBytes)
                return EFBIG;
            continue;
        }
        if (copied == 0) {
            if (copiedAny)
                return 0;
            // Some file systems (proc, sysfs, some FUSE) report 0 without
            // copying; reading tells a truly empty file from those.
            break;
        }
        if (errno == EINTR)
            continue;
        const bool unsupported = errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP
            || errno == EBADF || errno == ETXTBSY;
        if (!unsupported || copiedAny)
            return errno;
        break;
    }
    constexpr std::size_t chunkSize = 1 << 20;
    const std::unique_ptr<char[]> chunk(new (std::nothrow) char[chunkSize]);
    if (!chunk)
        return ENOMEM;
    for (;;) {
        const ssize_t got = ::pread(source, chunk.get(), boundedStep(maximumBytes, offset, chunkSize), offset);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        offset += got;
        if (offset > maximumBytes)
            return EFBIG;
        if (const int error = destination.writeAll(chunk.get(), static_cast<std::size_t>(got)))
            return error;
    }
}

} // namespace tolvex::detail
