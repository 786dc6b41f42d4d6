#include "TolvexCore/Files/DataRootLock.h"

#include "TolvexCore/Files/HeldFolders.h"
#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/PosixFile.h"

#include <cerrno>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {

namespace {

// A trailing separator would make open and lstat follow a link at the end.
std::string withoutTrailingSeparators(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

DataRootLock DataRootLock::acquire(const QString& dataRootPath)
{
    const std::string path = withoutTrailingSeparators(encodeLocalPath(dataRootPath).toStdString());
    if (!dataRootPath.startsWith(u'/') || dataRootPath.contains(QChar(u'\0')))
        throwFileError(EINVAL, "lock", path);
    // The same mode the file layer gives every folder it makes.
    if (const int error = makeDirectories(path, 0777))
        throwFileError(error, "lock", path);

    // Read-only and a folder: the descriptor can neither write nor be
    // mistaken for a file that someone swapped in.
    PosixFile folder = PosixFile::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (!folder.isOpen())
        throwFileError(errno, "lock", path);
    struct stat status {};
    if (::fstat(folder.fd(), &status) != 0)
        throwFileError(errno, "lock", path);
    int result = 0;
    do {
        result = ::flock(folder.fd(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        throwFileError(errno, "lock", path);
    const std::uint64_t heldKey = HeldFolders::enter(path, folder.fd());
    return DataRootLock(folder.release(), dataRootPath, status.st_dev, status.st_ino, heldKey);
}

bool DataRootLock::isHeldFolder(const QString& path) const
{
    if (descriptor_ < 0)
        return false;
    const std::string local = withoutTrailingSeparators(encodeLocalPath(path).toStdString());
    struct stat status {};
    if (::lstat(local.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        throwFileError(errno, "lock", local);
    }
    return status.st_dev == device_ && status.st_ino == inode_;
}

DataRootLock::DataRootLock(DataRootLock&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1))
    , path_(std::exchange(other.path_, QString()))
    , device_(other.device_)
    , inode_(other.inode_)
    , heldKey_(std::exchange(other.heldKey_, 0))
{
}

DataRootLock& DataRootLock::operator=(DataRootLock&& other) noexcept
{
    if (this != &other) {
        release();
        descriptor_ = std::exchange(other.descriptor_, -1);
        path_ = std::exchange(other.path_, QString());
        device_ = other.device_;
        inode_ = other.inode_;
        heldKey_ = std::exchange(other.heldKey_, 0);
    }
    return *this;
}

DataRootLock::~DataRootLock()
{
    release();
}

void DataRootLock::release() noexcept
{
    if (heldKey_ != 0)
        HeldFolders::withdraw(std::exchange(heldKey_, 0));
    // Closing the only descriptor of the open description ends the claim.
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
}

} // namespace tolvex
