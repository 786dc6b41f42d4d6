#include "TolvexCore/Files/SystemFileOperations.h"

#include "TolvexCore/Files/AtomicWriteName.h"
#include "TolvexCore/Files/FreedesktopTrash.h"
#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/PosixFile.h"
#include "TolvexCore/Files/ShareOut.h"
#include "TolvexCore/Files/SystemFileCalls.h"
#include "TolvexCore/Files/TreeCopy.h"
#include "TolvexCore/Files/VolumeCapacity.h"
#include "TolvexCore/Files/VolumeLocality.h"
#include "TolvexCore/Model/DataRoot.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tolvex {

namespace {

using detail::copyContentsAt;
using detail::CopyFailure;
using detail::fileInfoOf;
using detail::fileUrl;
using detail::joined;
using detail::localPath;
using detail::readEntries;
using detail::removeCreatedTree;
using detail::TreeCopy;

std::int64_t nanosecondsOf(const struct timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// Whether the change times of the volume holding the open folder are the
// kernel's own, set on every change: not on a network volume (its
// attributes come from a server, and may be cached for a while) nor on a
// FUSE volume (whatever the helper reports).
bool changeTimesAreKept(int folder)
{
    struct statfs volume {};
    if (::fstatfs(folder, &volume) != 0)
        return false;
    const auto magic = static_cast<std::uint64_t>(volume.f_type);
    return !VolumeLocality::isNetworkFilesystemMagic(magic) && !VolumeLocality::isFuseMagic(magic);
}

// A relative path of plain components: no empty, "." or ".." component.
bool isPlainRelativePath(std::string_view path)
{
    if (path.empty() || path.front() == '/')
        return false;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..")
            return false;
        start = end + 1;
    }
    return true;
}

int renameWithoutReplacing(int fromFolder, const char* from, int toFolder, const char* to)
{
    return ::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE);
}

// The names in a folder, hidden ones included, as the system spells them.
std::vector<std::string> entryNames(const std::string& path)
{
    PosixFile folder = PosixFile::open(path, O_RDONLY | O_DIRECTORY);
    if (!folder.isOpen())
        throwFileError(errno, "list", path);
    std::vector<std::string> names;
    if (const int error = readEntries(folder.release(), names))
        throwFileError(error, "list", path);
    return names;
}

} // namespace

SystemFileOperations::SystemFileOperations() : renameNoReplace_(&renameWithoutReplacing) {}

FileInfo SystemFileOperations::inspect(const QUrl& url) const
{
    const std::string path = localPath(url, "inspect");
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        throwFileError(errno, "inspect", path);
    return fileInfoOf(status);
}

QByteArray SystemFileOperations::read(const QUrl& url) const
{
    const std::string path = localPath(url, "read");
    const PosixFile file = PosixFile::open(path, O_RDONLY);
    if (!file.isOpen())
        throwFileError(errno, "read", path);
    QByteArray bytes;
    if (const int error = file.readAll(bytes))
        throwFileError(error, "read", path);
    return bytes;
}

void SystemFileOperations::createDirectory(const QUrl& url) const
{
    const std::string path = localPath(url, "createDirectory");
    if (const int error = makeDirectories(path, 0777))
        throwFileError(error, "createDirectory", path);
}

void SystemFileOperations::copy(const QUrl& source, const QUrl& destination) const
{
    const std::string sourcePath = localPath(source, "copy");
    const std::string destinationPath = localPath(destination, "copy");
    const std::string destinationFolder = parentPath(destinationPath);

    bool created = false;
    try {
        TreeCopy walk;
        walk.copy(AT_FDCWD, sourcePath, sourcePath, AT_FDCWD, destinationPath, destinationPath, created);
        // The new entry itself must survive a crash as much as its contents.
        if (const int error = PosixFile::syncDirectory(destinationFolder))
            throw CopyFailure{error, destinationFolder};
    } catch (const CopyFailure& failure) {
        // Only what this call made goes: the destination did not exist before
        // (it was created exclusively), and the source is never touched.
        if (created)
            removeCreatedTree(AT_FDCWD, destinationPath);
        throwFileError(failure.error, "copy", failure.path);
    }
}

void SystemFileOperations::move(const QUrl& source, const QUrl& destination) const
{
    const std::string sourcePath = localPath(source, "move");
    const std::string destinationPath = localPath(destination, "move");
    // Never rename(2): it would silently replace an existing destination.
    // Across volumes this fails with EXDEV, which is reported as is.
    if (renameNoReplace_(AT_FDCWD, sourcePath.c_str(), AT_FDCWD, destinationPath.c_str()) != 0) {
        int error = errno;
        // Some file systems (older network and FUSE ones) do not know the
        // flag. A file (or link) is then moved by a hard link, which refuses
        // an existing destination just as well, and the removal of its old
        // name. A folder cannot be linked: it keeps the error.
        if (error == EINVAL || error == ENOSYS) {
            struct stat status {};
            if (::lstat(sourcePath.c_str(), &status) != 0) {
                error = errno;
            } else if (!S_ISDIR(status.st_mode)) {
                if (::linkat(AT_FDCWD, sourcePath.c_str(), AT_FDCWD, destinationPath.c_str(), 0) != 0) {
                    error = errno;
                } else if (::unlink(sourcePath.c_str()) != 0) {
                    error = errno;
                    ::unlink(destinationPath.c_str());
                } else {
                    error = 0;
                }
            }
        }
        if (error != 0)
            throwFileError(error, "move", error == EEXIST ? destinationPath : sourcePath);
    }
    const std::string destinationFolder = parentPath(destinationPath);
    const std::string sourceFolder = parentPath(sourcePath);
    if (const int error = PosixFile::syncDirectory(destinationFolder))
        throwFileError(error, "move", destinationFolder);
    if (sourceFolder != destinationFolder) {
        if (const int error = PosixFile::syncDirectory(sourceFolder))
            throwFileError(error, "move", sourceFolder);
    }
}

void SystemFileOperations::writeAtomic(const QByteArray& bytes, const QUrl& url) const
{
    prepareAtomicWrite(bytes, url).commit();
}

PreparedAtomicWrite SystemFileOperations::prepareAtomicWrite(const QByteArray& bytes, const QUrl& url) const
{
    const std::string path = localPath(url, "writeAtomic");
    std::string targetName = DataRoot::lastPathComponent(path);
    if (targetName.empty() || targetName == "." || targetName == "..")
        throwFileError(EINVAL, "writeAtomic", path);

    // The folder stays open throughout, so the temporary file, the rename and
    // the final flush all happen in the same folder even if it is renamed meanwhile.
    auto folder = std::make_shared<const PosixFile>(PosixFile::open(parentPath(path), O_RDONLY | O_DIRECTORY));
    if (!folder->isOpen())
        throwFileError(errno, "writeAtomic", path);

    std::string temporaryName;
    PosixFile temporary;
    for (int attempt = 0; attempt < 16 && !temporary.isOpen(); ++attempt) {
        temporaryName = atomicWriteTemporaryName(targetName, QRandomGenerator::global()->generate64());
        temporary = PosixFile::openAt(folder->fd(), temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (!temporary.isOpen() && errno != EEXIST)
            break;
    }
    if (!temporary.isOpen())
        throwFileError(errno, "writeAtomic", path);

    // The bytes reach the disk before the name does: renaming an unflushed
    // file can leave an empty or torn target after a crash.
    int error = temporary.writeAll(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (error == 0)
        error = temporary.sync();
    if (const int closeError = temporary.close(); error == 0)
        error = closeError;
    if (error != 0) {
        ::unlinkat(folder->fd(), temporaryName.c_str(), 0);
        throwFileError(error, "writeAtomic", path);
    }

    const auto commit = [folder, temporaryName, targetName, path] {
        if (::renameat(folder->fd(), temporaryName.c_str(), folder->fd(), targetName.c_str()) != 0) {
            const int error = errno;
            ::unlinkat(folder->fd(), temporaryName.c_str(), 0);
            throwFileError(error, "writeAtomic", path);
        }
        // Until the folder is flushed, a crash may bring back the old name.
        const int error = folder->sync();
        if (error != 0 && error != EINVAL && error != EROFS)
            throwFileError(error, "writeAtomic", path);
    };
    const auto discard = [folder, temporaryName] { ::unlinkat(folder->fd(), temporaryName.c_str(), 0); };
    return PreparedAtomicWrite(commit, discard);
}

void SystemFileOperations::writeAtomicCopy(const QUrl& source, const QUrl& destination) const
{
    const std::string sourcePath = localPath(source, "writeAtomicCopy");
    const std::string path = localPath(destination, "writeAtomicCopy");
    const std::string targetName = DataRoot::lastPathComponent(path);
    if (targetName.empty() || targetName == "." || targetName == "..")
        throwFileError(EINVAL, "writeAtomicCopy", path);
    const PosixFile folder = PosixFile::open(parentPath(path), O_RDONLY | O_DIRECTORY);
    if (!folder.isOpen())
        throwFileError(errno, "writeAtomicCopy", path);

    // The source's bytes are already on disk: a second name needs no write
    // of its own, only the rename and the folder's flush below.
    std::string temporaryName;
    int error = EEXIST;
    for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
        temporaryName = atomicWriteTemporaryName(targetName, QRandomGenerator::global()->generate64());
        error = ::linkat(AT_FDCWD, sourcePath.c_str(), folder.fd(), temporaryName.c_str(), 0) == 0 ? 0 : errno;
    }
    if (error == EPERM || error == EOPNOTSUPP || error == EMLINK || error == EXDEV || error == ENOSYS) {
        // A file system without hard links (or at its limit of them).
        writeAtomic(read(source), destination);
        return;
    }
    if (error != 0)
        throwFileError(error, "writeAtomicCopy", error == ENOENT ? sourcePath : path);
    if (::renameat(folder.fd(), temporaryName.c_str(), folder.fd(), targetName.c_str()) != 0) {
        error = errno;
        ::unlinkat(folder.fd(), temporaryName.c_str(), 0);
        throwFileError(error, "writeAtomicCopy", path);
    }
    // A rename between two names of one file does nothing and succeeds: so
    // it goes when the destination already is a copy of this very source (a
    // save made the previous copy, then failed to replace the source, and
    // the next save copies again). The destination holds the bytes all the
    // same; the temporary name must not stay.
    ::unlinkat(folder.fd(), temporaryName.c_str(), 0);
    error = folder.sync();
    if (error != 0 && error != EINVAL && error != EROFS)
        throwFileError(error, "writeAtomicCopy", path);
}

std::int64_t SystemFileOperations::availableBytes(const QUrl& url) const
{
    const std::string path = localPath(url, "availableBytes");
    struct statvfs volume {};
    int result;
    do {
        result = ::statvfs(path.c_str(), &volume);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        throwFileError(errno, "availableBytes", path);
    return availableBytesOfVolume(volume);
}

QUrl SystemFileOperations::trash(const QUrl& url) const
{
    const std::string path = localPath(url, "trash");
    return fileUrl(FreedesktopTrash::forCurrentUser().trash(path));
}

QList<QUrl> SystemFileOperations::list(const QUrl& url) const
{
    const std::string path = localPath(url, "list");
    const std::vector<std::string> names = entryNames(path);
    QList<QUrl> entries;
    entries.reserve(static_cast<qsizetype>(names.size()));
    for (const std::string& name : names)
        entries.append(fileUrl(joined(path, name.c_str())));
    return entries;
}

QStringList SystemFileOperations::listNames(const QUrl& url) const
{
    const std::string path = localPath(url, "list");
    const std::vector<std::string> names = entryNames(path);
    QStringList decoded;
    decoded.reserve(static_cast<qsizetype>(names.size()));
    for (const std::string& name : names)
        decoded.append(decodeLocalPath(name));
    return decoded;
}

std::optional<std::vector<FileOperations::ItemLook>> SystemFileOperations::inspectBelow(const QUrl& folder,
    const QStringList& relativePaths) const
{
    const std::string base = localPath(folder, "inspectBelow");
    std::vector<ItemLook> looks(static_cast<std::size_t>(relativePaths.size()));
    const PosixFile opened = PosixFile::open(base, O_PATH | O_DIRECTORY);
    if (!opened.isOpen()) {
        const int error = errno;
        for (ItemLook& look : looks)
            look.error = error;
        return looks;
    }
    const bool kept = changeTimesAreKept(opened.fd());
    const auto lookAt = [&](std::size_t i) {
        ItemLook& look = looks[i];
        const QByteArray path = encodeLocalPath(relativePaths[static_cast<qsizetype>(i)]);
        if (path.contains('\0') || !isPlainRelativePath(std::string_view(path.constData(), static_cast<std::size_t>(path.size())))) {
            look.error = EINVAL;
            return;
        }
        struct stat status {};
        if (::fstatat(opened.fd(), path.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            look.error = errno;
            return;
        }
        look.info = fileInfoOf(status);
        if (kept) {
            look.identity = FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
                S_ISDIR(status.st_mode), nanosecondsOf(status.st_ctim), nanosecondsOf(status.st_mtim)};
        }
    };
    // Each look is one system call that mostly waits on the kernel's
    // lookups: many are shared out among a few threads.
    constexpr std::size_t parallelThreshold = 512;
    shareOut(looks.size(), parallelThreshold, lookAt);
    return looks;
}

OpenFile SystemFileOperations::open(const QUrl& url) const
{
    const std::string path = localPath(url, "open");
    PosixFile file = PosixFile::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!file.isOpen())
        throwFileError(errno, "open", path);
    return OpenFile(url, std::make_shared<const PosixFile>(std::move(file)));
}

FileInfo SystemFileOperations::inspect(const OpenFile& file) const
{
    struct stat status {};
    if (::fstat(file.descriptor(), &status) != 0)
        throwFileError(errno, "inspect", file.url().toString().toStdString());
    return fileInfoOf(status);
}

void SystemFileOperations::read(const OpenFile& file, const Consumer& consume) const
{
    const int fd = file.descriptor();
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // Small enough to stay in the cache while it is consumed, large enough
    // that the calls cost nothing next to the copying.
    constexpr std::size_t chunkSize = 1 << 20;
    const std::unique_ptr<char[]> chunk(new char[chunkSize]);
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, chunk.get(), chunkSize, offset);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throwFileError(errno, "read", file.url().toString().toStdString());
        }
        if (got == 0)
            return;
        offset += got;
        consume(chunk.get(), static_cast<std::size_t>(got));
    }
}

MappedFile SystemFileOperations::map(const OpenFile& file) const
{
    struct stat status {};
    if (::fstat(file.descriptor(), &status) != 0)
        throwFileError(errno, "map", file.url().toString().toStdString());
    if (!S_ISREG(status.st_mode))
        throwFileError(EINVAL, "map", file.url().toString().toStdString());
    if (status.st_size == 0)
        return MappedFile();
    // Populated at once: one call faults the pages in far faster than the
    // first touch of each page would.
    void* address = ::mmap(nullptr, static_cast<std::size_t>(status.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE,
        file.descriptor(), 0);
    if (address == MAP_FAILED)
        throwFileError(errno, "map", file.url().toString().toStdString());
    return MappedFile(address, static_cast<std::size_t>(status.st_size));
}

OpenFile SystemFileOperations::copy(
    const OpenFile& source, const QUrl& folder, const QString& relativePath, MissingFolders missing) const
{
    const std::string folderPath = localPath(folder, "copy");
    const QStringList parts = relativePath.split(u'/');
    for (const QString& part : parts) {
        if (part.isEmpty() || part == u"." || part == u".." || part.contains(QChar(u'\0')))
            throwFileError(EINVAL, "copy", relativePath.toStdString());
    }

    PosixFile current = PosixFile::open(folderPath, O_RDONLY | O_DIRECTORY);
    if (!current.isOpen())
        throwFileError(errno, "copy", folderPath);
    std::string currentPath = folderPath;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const std::string name = encodeLocalPath(parts[i]).toStdString();
        const std::string path = joined(currentPath, name.c_str());
        PosixFile next = PosixFile::openAt(current.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (!next.isOpen() && errno == ENOENT && missing == MissingFolders::create) {
            if (::mkdirat(current.fd(), name.c_str(), 0777) != 0 && errno != EEXIST)
                throwFileError(errno, "copy", path);
            if (const int error = current.sync(); error != 0 && error != EINVAL && error != EROFS)
                throwFileError(error, "copy", currentPath);
            next = PosixFile::openAt(current.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        }
        if (!next.isOpen())
            throwFileError(errno, "copy", path);
        current = std::move(next);
        currentPath = path;
    }

    struct stat status {};
    if (::fstat(source.descriptor(), &status) != 0)
        throwFileError(errno, "copy", source.url().toString().toStdString());
    if (!S_ISREG(status.st_mode))
        throwFileError(ENOTSUP, "copy", source.url().toString().toStdString());

    const std::string name = encodeLocalPath(parts.last()).toStdString();
    const std::string path = joined(currentPath, name.c_str());
    PosixFile destination =
        PosixFile::openAt(current.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (!destination.isOpen())
        throwFileError(errno, "copy", path);
    int error = copyContentsAt(source.descriptor(), destination);
    if (error == 0) {
        ::fchmod(destination.fd(), status.st_mode & 0777);
        const struct timespec times[2] = {status.st_atim, status.st_mtim};
        ::futimens(destination.fd(), times);
        // The flush of the contents is the caller's (see sync); start the
        // write-back now so that it runs while the caller does other work.
        ::sync_file_range(destination.fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    PosixFile copied;
    if (error == 0) {
        copied = PosixFile::openAt(current.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW);
        if (!copied.isOpen())
            error = errno;
    }
    if (const int closeError = destination.close(); error == 0)
        error = closeError;
    if (error == 0) {
        error = current.sync();
        if (error == EINVAL || error == EROFS)
            error = 0;
    }
    if (error != 0) {
        // Only what this call created goes: the name was free before.
        ::unlinkat(current.fd(), name.c_str(), 0);
        throwFileError(error, "copy", path);
    }
    return OpenFile(QUrl::fromLocalFile(decodeLocalPath(path)), std::make_shared<const PosixFile>(std::move(copied)));
}

void SystemFileOperations::sync(const OpenFile& file) const
{
    int result;
    do {
        result = ::fsync(file.descriptor());
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EINVAL && errno != EROFS)
        throwFileError(errno, "sync", file.url().toString().toStdString());
}

void SystemFileOperations::removeAtomicWriteLeftover(const QUrl& url) const
{
    const std::string path = localPath(url, "removeAtomicWriteLeftover");
    const std::string name = DataRoot::lastPathComponent(path);
    if (!isAtomicWriteTemporaryName(name))
        throwFileError(EINVAL, "removeAtomicWriteLeftover", path);
    const PosixFile folder = PosixFile::open(parentPath(path), O_RDONLY | O_DIRECTORY);
    if (!folder.isOpen())
        throwFileError(errno, "removeAtomicWriteLeftover", path);
    struct stat status {};
    if (::fstatat(folder.fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        throwFileError(errno, "removeAtomicWriteLeftover", path);
    if (!S_ISREG(status.st_mode))
        throwFileError(EINVAL, "removeAtomicWriteLeftover", path);
    if (::unlinkat(folder.fd(), name.c_str(), 0) != 0)
        throwFileError(errno, "removeAtomicWriteLeftover", path);
    if (const int error = folder.sync(); error != 0 && error != EINVAL && error != EROFS)
        throwFileError(error, "removeAtomicWriteLeftover", path);
}

FileOperationsRef SystemFileOperations::shared()
{
    static const FileOperationsRef instance = std::make_shared<const SystemFileOperations>();
    return instance;
}

} // namespace tolvex
