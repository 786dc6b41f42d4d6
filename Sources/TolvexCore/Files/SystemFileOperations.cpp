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

using detail::boundedStep;
using detail::copyContentsAt;
using detail::CopyFailure;
using detail::fileInfoOf;
using detail::fileUrl;
using detail::joined;
using detail::locate;
using detail::Location;
using detail::openAt;
using detail::readEntries;
using detail::removeCreatedTree;
using detail::syncFolder;
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
std::vector<std::string> entryNames(const Location& location)
{
    PosixFile folder = openAt(location, O_RDONLY | O_DIRECTORY);
    if (!folder.isOpen())
        throwFileError(errno, "list", location.path);
    std::vector<std::string> names;
    if (const int error = readEntries(folder.release(), names))
        throwFileError(error, "list", location.path);
    return names;
}

// The folder that holds the target of a write, open, and the target's name
// in it; EINVAL for a target without a name of its own.
PosixFile openTargetFolder(const Location& target, std::string& targetName, std::string_view operation)
{
    targetName = target.lastComponent();
    if (targetName.empty() || targetName == "." || targetName == ".."
        || DataRoot::lastPathComponent(target.path) != targetName)
        throwFileError(EINVAL, operation, target.path);
    PosixFile folder = openAt(target.parent(), O_RDONLY | O_DIRECTORY);
    if (!folder.isOpen())
        throwFileError(errno, operation, target.path);
    return folder;
}

// A new hidden temporary file beside the target in `folder`, opened for
// writing; its name goes to `temporaryName`.
PosixFile createTemporary(const PosixFile& folder, const std::string& targetName, std::string& temporaryName,
    std::string_view operation, const std::string& path)
{
    PosixFile temporary;
    for (int attempt = 0; attempt < 16 && !temporary.isOpen(); ++attempt) {
        temporaryName = atomicWriteTemporaryName(targetName, QRandomGenerator::global()->generate64());
        temporary = PosixFile::openAt(folder.fd(), temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (!temporary.isOpen() && errno != EEXIST)
            break;
    }
    if (!temporary.isOpen())
        throwFileError(errno, operation, path);
    return temporary;
}

} // namespace

SystemFileOperations::SystemFileOperations() : renameNoReplace_(&renameWithoutReplacing) {}

FileInfo SystemFileOperations::inspect(const QUrl& url) const
{
    const Location item = locate(url, "inspect");
    struct stat status {};
    if (::fstatat(item.folder(), item.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        throwFileError(errno, "inspect", item.path);
    return fileInfoOf(status);
}

QByteArray SystemFileOperations::read(const QUrl& url) const
{
    const Location item = locate(url, "read");
    // Whatever stands at the path is opened without waiting for a FIFO's
    // writer, and only a regular file is read.
    const PosixFile file = openAt(item, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!file.isOpen())
        throwFileError(errno, "read", item.path);
    struct stat status {};
    if (::fstat(file.fd(), &status) != 0)
        throwFileError(errno, "read", item.path);
    if (!S_ISREG(status.st_mode))
        throwFileError(S_ISDIR(status.st_mode) ? EISDIR : EINVAL, "read", item.path);
    QByteArray bytes;
    if (const int error = file.readAll(bytes))
        throwFileError(error, "read", item.path);
    return bytes;
}

void SystemFileOperations::createDirectory(const QUrl& url) const
{
    const Location folder = locate(url, "createDirectory");
    if (const int error = makeDirectoriesAt(folder.folder(), folder.name, 0777))
        throwFileError(error, "createDirectory", folder.path);
}

void SystemFileOperations::copy(const QUrl& source, const QUrl& destination) const
{
    const Location from = locate(source, "copy");
    const Location to = locate(destination, "copy");

    bool created = false;
    try {
        TreeCopy walk;
        walk.copy(from.folder(), from.name, from.path, to.folder(), to.name, to.path, created);
        // The new entry itself must survive a crash as much as its contents.
        const Location destinationFolder = to.parent();
        if (const int error = syncFolder(destinationFolder))
            throw CopyFailure{error, destinationFolder.path};
    } catch (const CopyFailure& failure) {
        // Only what this call made goes: the destination did not exist before
        // (it was created exclusively), and the source is never touched.
        if (created)
            removeCreatedTree(to.folder(), to.name);
        throwFileError(failure.error, "copy", failure.path);
    }
}

void SystemFileOperations::move(const QUrl& source, const QUrl& destination) const
{
    const Location from = locate(source, "move");
    const Location to = locate(destination, "move");
    // Never rename(2): it would silently replace an existing destination.
    // Across volumes this fails with EXDEV, which is reported as is.
    if (renameNoReplace_(from.folder(), from.name.c_str(), to.folder(), to.name.c_str()) != 0) {
        int error = errno;
        // Some file systems (older network and FUSE ones) do not know the
        // flag. A file (or link) is then moved by a hard link, which refuses
        // an existing destination just as well, and the removal of its old
        // name. A folder cannot be linked: it keeps the error.
        if (error == EINVAL || error == ENOSYS) {
            struct stat status {};
            if (::fstatat(from.folder(), from.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                error = errno;
            } else if (!S_ISDIR(status.st_mode)) {
                if (::linkat(from.folder(), from.name.c_str(), to.folder(), to.name.c_str(), 0) != 0) {
                    error = errno;
                } else if (::unlinkat(from.folder(), from.name.c_str(), 0) != 0) {
                    error = errno;
                    ::unlinkat(to.folder(), to.name.c_str(), 0);
                } else {
                    error = 0;
                }
            }
        }
        if (error != 0)
            throwFileError(error, "move", error == EEXIST ? to.path : from.path);
    }
    const Location destinationFolder = to.parent();
    const Location sourceFolder = from.parent();
    if (const int error = syncFolder(destinationFolder))
        throwFileError(error, "move", destinationFolder.path);
    if (!(sourceFolder == destinationFolder)) {
        if (const int error = syncFolder(sourceFolder))
            throwFileError(error, "move", sourceFolder.path);
    }
}

void SystemFileOperations::writeAtomic(const QByteArray& bytes, const QUrl& url) const
{
    prepareAtomicWrite(bytes, url).commit();
}

PreparedAtomicWrite SystemFileOperations::prepareAtomicWrite(const QByteArray& bytes, const QUrl& url) const
{
    return prepareReplacement(url, "writeAtomic", [&bytes](const PosixFile& temporary) {
        return temporary.writeAll(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    });
}

PreparedAtomicWrite SystemFileOperations::prepareReplacement(
    const QUrl& url, std::string_view operation, const std::function<int(const PosixFile&)>& fill) const
{
    const Location target = locate(url, operation);
    const std::string& path = target.path;
    std::string targetName;
    // The folder stays open throughout, so the temporary file, the rename and
    // the final flush all happen in the same folder even if it is renamed meanwhile.
    auto folder = std::make_shared<const PosixFile>(openTargetFolder(target, targetName, operation));
    std::string temporaryName;
    PosixFile temporary = createTemporary(*folder, targetName, temporaryName, operation, path);

    // The bytes reach the disk before the name does: renaming an unflushed
    // file can leave an empty or torn target after a crash.
    int error = fill(temporary);
    if (error == 0)
        error = temporary.sync();
    if (const int closeError = temporary.close(); error == 0)
        error = closeError;
    if (error != 0) {
        ::unlinkat(folder->fd(), temporaryName.c_str(), 0);
        throwFileError(error, operation, path);
    }

    const auto commit = [folder, temporaryName, targetName, path, operation = std::string(operation)] {
        if (::renameat(folder->fd(), temporaryName.c_str(), folder->fd(), targetName.c_str()) != 0) {
            const int error = errno;
            ::unlinkat(folder->fd(), temporaryName.c_str(), 0);
            throwFileError(error, operation, path);
        }
        // Until the folder is flushed, a crash may bring back the old name.
        if (const int error = folder->syncEntries())
            throwFileError(error, operation, path);
    };
    const auto discard = [folder, temporaryName] { ::unlinkat(folder->fd(), temporaryName.c_str(), 0); };
    return PreparedAtomicWrite(commit, discard);
}

void SystemFileOperations::writeAtomicCopy(const QUrl& source, const QUrl& destination) const
{
    const Location from = locate(source, "writeAtomicCopy");
    const std::string& sourcePath = from.path;
    const Location target = locate(destination, "writeAtomicCopy");
    const std::string& path = target.path;
    std::string targetName;
    const PosixFile folder = openTargetFolder(target, targetName, "writeAtomicCopy");

    // The source's bytes are already on disk: a second name needs no write
    // of its own, only the rename and the folder's flush below.
    std::string temporaryName;
    int error = EEXIST;
    for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
        temporaryName = atomicWriteTemporaryName(targetName, QRandomGenerator::global()->generate64());
        error = ::linkat(from.folder(), from.name.c_str(), folder.fd(), temporaryName.c_str(), 0) == 0 ? 0 : errno;
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
    error = folder.syncEntries();
    if (error != 0)
        throwFileError(error, "writeAtomicCopy", path);
}

void SystemFileOperations::writeAtomicSeparateCopy(const QUrl& source, const QUrl& destination) const
{
    const Location from = locate(source, "writeAtomicSeparateCopy");
    // Opened as a file of someone else: no link followed, no FIFO waited for.
    const PosixFile input = openAt(from, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!input.isOpen())
        throwFileError(errno, "writeAtomicSeparateCopy", from.path);
    struct stat status {};
    if (::fstat(input.fd(), &status) != 0)
        throwFileError(errno, "writeAtomicSeparateCopy", from.path);
    if (!S_ISREG(status.st_mode))
        throwFileError(ENOTSUP, "writeAtomicSeparateCopy", from.path);
    // New bytes in a new file (the kernel may share the source's blocks
    // copy-on-write, which a write to either file then parts again).
    prepareReplacement(destination, "writeAtomicSeparateCopy", [&input](const PosixFile& temporary) {
        return copyContentsAt(input.fd(), temporary);
    }).commit();
}

std::int64_t SystemFileOperations::availableBytes(const QUrl& url) const
{
    const Location item = locate(url, "availableBytes");
    const PosixFile opened = openAt(item, O_PATH);
    if (!opened.isOpen())
        throwFileError(errno, "availableBytes", item.path);
    struct statvfs volume {};
    int result;
    do {
        result = ::fstatvfs(opened.fd(), &volume);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        throwFileError(errno, "availableBytes", item.path);
    return availableBytesOfVolume(volume);
}

QUrl SystemFileOperations::trash(const QUrl& url) const
{
    const Location item = locate(url, "trash");
    const FreedesktopTrash trash = FreedesktopTrash::forCurrentUser();
    if (!item.held)
        return fileUrl(trash.trash(item.path));
    // Taken from the held folder it lies in, wherever that folder now is.
    const PosixFile folder = openAt(item.parent(), O_PATH | O_DIRECTORY);
    if (!folder.isOpen())
        throwFileError(errno, "trash", item.path);
    return fileUrl(trash.trash(folder.fd(), item.lastComponent(), item.path));
}

QList<QUrl> SystemFileOperations::list(const QUrl& url) const
{
    const Location folder = locate(url, "list");
    const std::string& path = folder.path;
    const std::vector<std::string> names = entryNames(folder);
    QList<QUrl> entries;
    entries.reserve(static_cast<qsizetype>(names.size()));
    for (const std::string& name : names)
        entries.append(fileUrl(joined(path, name.c_str())));
    return entries;
}

QStringList SystemFileOperations::listNames(const QUrl& url) const
{
    const std::vector<std::string> names = entryNames(locate(url, "list"));
    QStringList decoded;
    decoded.reserve(static_cast<qsizetype>(names.size()));
    for (const std::string& name : names)
        decoded.append(decodeLocalPath(name));
    return decoded;
}

std::optional<std::vector<FileOperations::ItemLook>> SystemFileOperations::inspectBelow(const QUrl& folder,
    const QStringList& relativePaths) const
{
    const Location base = locate(folder, "inspectBelow");
    std::vector<ItemLook> looks(static_cast<std::size_t>(relativePaths.size()));
    const PosixFile opened = openAt(base, O_PATH | O_DIRECTORY);
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
    const Location item = locate(url, "open");
    PosixFile file = openAt(item, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!file.isOpen())
        throwFileError(errno, "open", item.path);
    return OpenFile(url, std::make_shared<const PosixFile>(std::move(file)));
}

FileInfo SystemFileOperations::inspect(const OpenFile& file) const
{
    struct stat status {};
    if (::fstat(file.descriptor(), &status) != 0)
        throwFileError(errno, "inspect", file.url().toString().toStdString());
    return fileInfoOf(status);
}

void SystemFileOperations::read(const OpenFile& file, const Consumer& consume, std::int64_t maximumBytes) const
{
    if (maximumBytes < 0)
        throwFileError(EINVAL, "read", file.url().toString().toStdString());
    const int fd = file.descriptor();
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // Small enough to stay in the cache while it is consumed, large enough
    // that the calls cost nothing next to the copying.
    constexpr std::size_t chunkSize = 1 << 20;
    const std::unique_ptr<char[]> chunk(new char[chunkSize]);
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, chunk.get(), boundedStep(maximumBytes, offset, chunkSize), offset);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throwFileError(errno, "read", file.url().toString().toStdString());
        }
        if (got == 0)
            return;
        offset += got;
        if (offset > maximumBytes)
            throwFileError(EFBIG, "read", file.url().toString().toStdString());
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

OpenFile SystemFileOperations::copy(const OpenFile& source, const QUrl& folder, const QString& relativePath,
    MissingFolders missing, std::int64_t maximumBytes) const
{
    const Location start = locate(folder, "copy");
    const std::string& folderPath = start.path;
    const QStringList parts = relativePath.split(u'/');
    for (const QString& part : parts) {
        if (part.isEmpty() || part == u"." || part == u".." || part.contains(QChar(u'\0')))
            throwFileError(EINVAL, "copy", relativePath.toStdString());
    }

    PosixFile current = openAt(start, O_RDONLY | O_DIRECTORY);
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
            if (const int error = current.syncEntries())
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
    int error = copyContentsAt(source.descriptor(), destination, maximumBytes);
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
    if (error == 0)
        error = current.syncEntries();
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
    const Location item = locate(url, "removeAtomicWriteLeftover");
    const std::string& path = item.path;
    const std::string name = item.lastComponent();
    if (!isAtomicWriteTemporaryName(name) || DataRoot::lastPathComponent(path) != name)
        throwFileError(EINVAL, "removeAtomicWriteLeftover", path);
    const PosixFile folder = openAt(item.parent(), O_RDONLY | O_DIRECTORY);
    if (!folder.isOpen())
        throwFileError(errno, "removeAtomicWriteLeftover", path);
    struct stat status {};
    if (::fstatat(folder.fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        throwFileError(errno, "removeAtomicWriteLeftover", path);
    if (!S_ISREG(status.st_mode))
        throwFileError(EINVAL, "removeAtomicWriteLeftover", path);
    if (::unlinkat(folder.fd(), name.c_str(), 0) != 0)
        throwFileError(errno, "removeAtomicWriteLeftover", path);
    if (const int error = folder.syncEntries())
        throwFileError(error, "removeAtomicWriteLeftover", path);
}

FileOperationsRef SystemFileOperations::shared()
{
    static const FileOperationsRef instance = std::make_shared<const SystemFileOperations>();
    return instance;
}

} // namespace tolvex
