#include "TolvexCore/Files/TreeCopy.h"

#include "TolvexCore/Files/PosixFile.h"
#include "TolvexCore/Files/SystemFileCalls.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::detail {

void TreeCopy::copy(int sourceFolder, const std::string& sourceName, const std::string& sourcePath,
    int destinationFolder, const std::string& destinationName, const std::string& destinationPath, bool& created)
{
    struct stat status {};
    if (::fstatat(sourceFolder, sourceName.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        throw CopyFailure{errno, sourcePath};
    const struct timespec times[2] = {status.st_atim, status.st_mtim};

    if (S_ISREG(status.st_mode)) {
        // What was seen as a regular file may be a FIFO by now: opened without
        // waiting for a writer, and checked again.
        const PosixFile source =
            PosixFile::openAt(sourceFolder, sourceName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (!source.isOpen())
            throw CopyFailure{errno, sourcePath};
        struct stat opened {};
        if (::fstat(source.fd(), &opened) != 0)
            throw CopyFailure{errno, sourcePath};
        if (!S_ISREG(opened.st_mode))
            throw CopyFailure{ENOTSUP, sourcePath};
        PosixFile destination = PosixFile::openAt(destinationFolder, destinationName.c_str(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (!destination.isOpen())
            throw CopyFailure{errno, destinationPath};
        created = true;
        int error = copyContentsAt(source.fd(), destination);
        if (error != 0)
            throw CopyFailure{error, destinationPath};
        ::fchmod(destination.fd(), status.st_mode & 0777);
        ::futimens(destination.fd(), times);
        if ((error = destination.sync()) != 0 || (error = destination.close()) != 0)
            throw CopyFailure{error, destinationPath};
        return;
    }

    if (S_ISDIR(status.st_mode)) {
        if (haveRoot_ && status.st_dev == rootDevice_ && status.st_ino == rootInode_)
            throw CopyFailure{EINVAL, sourcePath};
        PosixFile source = PosixFile::openAt(sourceFolder, sourceName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (!source.isOpen())
            throw CopyFailure{errno, sourcePath};
        if (::mkdirat(destinationFolder, destinationName.c_str(), 0700) != 0)
            throw CopyFailure{errno, destinationPath};
        created = true;
        PosixFile destination =
            PosixFile::openAt(destinationFolder, destinationName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (!destination.isOpen())
            throw CopyFailure{errno, destinationPath};
        if (!haveRoot_) {
            struct stat root {};
            if (::fstat(destination.fd(), &root) != 0)
                throw CopyFailure{errno, destinationPath};
            rootDevice_ = root.st_dev;
            rootInode_ = root.st_ino;
            haveRoot_ = true;
        }

        std::vector<std::string> names;
        const int listed = ::dup(source.fd());
        if (listed < 0)
            throw CopyFailure{errno, sourcePath};
        if (const int error = readEntries(listed, names))
            throw CopyFailure{error, sourcePath};
        for (const std::string& name : names) {
            bool childCreated = false;
            copy(source.fd(), name, joined(sourcePath, name.c_str()), destination.fd(), name,
                joined(destinationPath, name.c_str()), childCreated);
        }

        ::fchmod(destination.fd(), status.st_mode & 0777);
        ::futimens(destination.fd(), times);
        if (const int error = destination.syncEntries())
            throw CopyFailure{error, destinationPath};
        return;
    }

    if (S_ISLNK(status.st_mode)) {
        std::string target(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) + 1, '\0');
        for (;;) {
            const ssize_t length = ::readlinkat(sourceFolder, sourceName.c_str(), target.data(), target.size());
            if (length < 0)
                throw CopyFailure{errno, sourcePath};
            if (static_cast<std::size_t>(length) < target.size()) {
                target.resize(static_cast<std::size_t>(length));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (::symlinkat(target.c_str(), destinationFolder, destinationName.c_str()) != 0)
            throw CopyFailure{errno, destinationPath};
        created = true;
        ::utimensat(destinationFolder, destinationName.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return;
    }

    // Devices, pipes and sockets have no contents to copy (and opening a
    // pipe would wait for a writer).
    throw CopyFailure{ENOTSUP, sourcePath};
}

void removeCreatedTree(int folder, const std::string& name)
{
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (S_ISDIR(status.st_mode)) {
        PosixFile directory = PosixFile::openAt(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (directory.isOpen()) {
            // A copied read-only folder would refuse the removal of its entries.
            ::fchmod(directory.fd(), 0700);
            std::vector<std::string> names;
            const int listed = ::dup(directory.fd());
            if (listed >= 0)
                readEntries(listed, names);
            for (const std::string& child : names)
                removeCreatedTree(directory.fd(), child);
        }
        ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
    } else {
        ::unlinkat(folder, name.c_str(), 0);
    }
}

} // namespace tolvex::detail
