#include "TolvexCore/Files/FreedesktopTrash.h"

#include "TolvexCore/Files/AtomicWriteName.h"
#include "TolvexCore/Files/PosixFile.h"
#include "TolvexCore/Model/DataRoot.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {

namespace {

constexpr std::string_view infoSuffix = ".trashinfo";
// Room left in a 255-byte name for ".<counter>" and the record's suffix.
constexpr std::size_t stemLimit = 255 - infoSuffix.size() - 8;

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string childPath(const std::string& folder, std::string_view name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

// A folder that this user owns, created (0700) when missing. A link or a
// folder of someone else is refused: another user must not be able to
// redirect or read what we trash.
int ensureOwnedFolder(const std::string& path, uid_t uid)
{
    if (::mkdir(path.c_str(), 0700) == 0)
        return PosixFile::syncDirectory(parentPath(path));
    if (errno != EEXIST)
        return errno;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return errno;
    if (!S_ISDIR(status.st_mode))
        return ENOTDIR;
    return status.st_uid == uid ? 0 : EACCES;
}

int ensureTrashFolders(const std::string& trash)
{
    for (const char* name : {"files", "info"}) {
        const std::string folder = childPath(trash, name);
        if (::mkdir(folder.c_str(), 0700) == 0) {
            if (const int error = PosixFile::syncDirectory(trash))
                return error;
            continue;
        }
        if (errno != EEXIST)
            return errno;
        struct stat status {};
        if (::lstat(folder.c_str(), &status) != 0)
            return errno;
        if (!S_ISDIR(status.st_mode))
            return ENOTDIR;
    }
    return 0;
}

// The device of the home trash, or of its nearest existing folder above when
// it has not been made yet.
bool onDeviceOf(dev_t device, std::string folder)
{
    for (;;) {
        struct stat status {};
        if (::stat(folder.c_str(), &status) == 0)
            return status.st_dev == device;
        if (folder == "/" || folder == ".")
            return false;
        folder = parentPath(folder);
    }
}

bool isWithin(const std::string& path, const std::string& folder)
{
    if (folder == "/")
        return !path.empty() && path.front() == '/';
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0
        && (path.size() == folder.size() || path[folder.size()] == '/');
}

// Mount points in /proc/self/mountinfo escape space, tab, newline and
// backslash as three octal digits.
std::string unescapeMountPoint(std::string_view field)
{
    std::string result;
    result.reserve(field.size());
    const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            result += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        result += field[i];
    }
    return result;
}

std::string mountTopFromMountInfo(const std::string& realPath)
{
    std::ifstream mounts("/proc/self/mountinfo");
    std::string best;
    std::string line;
    while (std::getline(mounts, line)) {
        // ID, parent ID, major:minor, root, mount point, ...
        std::size_t start = 0;
        for (int field = 0; field < 4 && start != std::string::npos; ++field) {
            start = line.find(' ', start);
            if (start != std::string::npos)
                ++start;
        }
        if (start == std::string::npos)
            continue;
        const std::size_t end = line.find(' ', start);
        const std::string mountPoint =
            unescapeMountPoint(std::string_view(line).substr(start, end == std::string::npos ? end : end - start));
        if (isWithin(realPath, mountPoint) && mountPoint.size() >= best.size())
            best = mountPoint;
    }
    return best;
}

std::string mountTopByDevice(const std::string& realPath)
{
    struct stat status {};
    if (::stat(realPath.c_str(), &status) != 0)
        return "/";
    std::string top = realPath;
    while (top != "/") {
        const std::string parent = parentPath(top);
        struct stat parentStatus {};
        if (::stat(parent.c_str(), &parentStatus) != 0 || parentStatus.st_dev != status.st_dev)
            break;
        top = parent;
    }
    return top;
}

} // namespace

FreedesktopTrash::FreedesktopTrash(std::string homeTrashDirectory, uid_t uid)
    : homeTrashDirectory_(withoutTrailingSlashes(std::move(homeTrashDirectory))), uid_(uid)
{
}

FreedesktopTrash FreedesktopTrash::forCurrentUser()
{
    const uid_t uid = ::getuid();
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome && dataHome[0] == '/')
        return FreedesktopTrash(childPath(withoutTrailingSlashes(dataHome), "Trash"), uid);

    std::string home;
    if (const char* variable = std::getenv("HOME"); variable && variable[0] == '/') {
        home = variable;
    } else {
        struct passwd entry {};
        struct passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir
            && found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    if (home.empty())
        throwFileError(ENOENT, "trash", "$HOME");
    return FreedesktopTrash(childPath(withoutTrailingSlashes(home), ".local/share/Trash"), uid);
}

std::string FreedesktopTrash::trash(const std::string& path) const
{
    const std::string name = DataRoot::lastPathComponent(path);
    if (path.empty() || path.front() != '/' || name.empty() || name == "." || name == "..")
        throwFileError(EINVAL, "trash", path);
    // Only found through: renaming out of a folder takes no right to read it.
    const PosixFile folder = PosixFile::open(parentPath(path), O_PATH | O_DIRECTORY);
    if (!folder.isOpen())
        throwFileError(errno, "trash", path);
    return trash(folder.fd(), name, path);
}

std::string FreedesktopTrash::trash(int folder, const std::string& name, const std::string& path) const
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throwFileError(EINVAL, "trash", path);
    struct stat item {};
    if (::fstatat(folder, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0)
        throwFileError(errno, "trash", path);

    // Where the folder lies now, links resolved: its descriptor's own name,
    // or its path's where /proc is not mounted.
    const std::string descriptorPath = "/proc/self/fd/" + std::to_string(folder);
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(descriptorPath.c_str(), nullptr), &std::free);
    if (!resolved && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0)
        resolved.reset(::realpath(parentPath(path).c_str(), nullptr));
    if (!resolved)
        throwFileError(errno, "trash", path);
    const std::string folderPath = resolved.get();
    const std::string originalPath = childPath(folderPath, name);

    if (onDeviceOf(item.st_dev, homeTrashDirectory_)) {
        try {
            return moveInto(folder, name, path, originalPath, homeLocation());
        } catch (const std::system_error& error) {
            // The same device seen through another mount (a bind mount) still
            // cannot be renamed across; the volume's own trash can take it.
            if (error.code() != std::errc::cross_device_link)
                throw;
        }
    }
    return moveInto(folder, name, path, originalPath, topDirectoryLocation(mountTopDirectory(folderPath)));
}

FreedesktopTrash::Location FreedesktopTrash::homeLocation() const
{
    if (const int error = makeDirectories(homeTrashDirectory_, 0700))
        throwFileError(error, "trash", homeTrashDirectory_);
    if (const int error = ensureTrashFolders(homeTrashDirectory_))
        throwFileError(error, "trash", homeTrashDirectory_);
    return Location{homeTrashDirectory_, {}};
}

FreedesktopTrash::Location FreedesktopTrash::topDirectoryLocation(const std::string& topDirectory) const
{
    const std::string uid = std::to_string(uid_);
    // An administrator's shared trash counts only as a real folder with the
    // sticky bit, so that users cannot remove each other's folders in it.
    const std::string shared = childPath(topDirectory, ".Trash");
    struct stat status {};
    if (::lstat(shared.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX)) {
        const std::string mine = childPath(shared, uid);
        if (ensureOwnedFolder(mine, uid_) == 0 && ensureTrashFolders(mine) == 0)
            return Location{mine, topDirectory};
    }

    const std::string own = childPath(topDirectory, ".Trash-" + uid);
    if (const int error = ensureOwnedFolder(own, uid_))
        throwFileError(error, "trash", own);
    if (const int error = ensureTrashFolders(own))
        throwFileError(error, "trash", own);
    return Location{own, topDirectory};
}

std::string FreedesktopTrash::moveInto(int folder, const std::string& itemName, const std::string& path,
    const std::string& originalPath, const Location& trash)
{
    const std::string infoFolder = childPath(trash.directory, "info");
    const std::string filesFolder = childPath(trash.directory, "files");
    const PosixFile info = PosixFile::open(infoFolder, O_RDONLY | O_DIRECTORY);
    if (!info.isOpen())
        throwFileError(errno, "trash", infoFolder);
    const PosixFile files = PosixFile::open(filesFolder, O_RDONLY | O_DIRECTORY);
    if (!files.isOpen())
        throwFileError(errno, "trash", filesFolder);

    const std::string text = infoText(originalPath, trash, std::time(nullptr));
    const std::string stem(utf8Prefix(itemName, stemLimit));

    for (unsigned counter = 1; counter < 1000000; ++counter) {
        const std::string name = counter == 1 ? stem : stem + "." + std::to_string(counter);
        const std::string infoName = name + std::string(infoSuffix);

        // The record reserves the name: whoever creates it first owns it.
        PosixFile record = PosixFile::openAt(info.fd(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (!record.isOpen()) {
            if (errno == EEXIST)
                continue;
            throwFileError(errno, "trash", childPath(infoFolder, infoName));
        }
        int error = record.writeAll(text.data(), text.size());
        if (error == 0)
            error = record.sync();
        if (const int closeError = record.close(); error == 0)
            error = closeError;
        if (error != 0) {
            ::unlinkat(info.fd(), infoName.c_str(), 0);
            throwFileError(error, "trash", childPath(infoFolder, infoName));
        }

        if (::renameat2(folder, itemName.c_str(), files.fd(), name.c_str(), RENAME_NOREPLACE) != 0) {
            const int moveError = errno;
            ::unlinkat(info.fd(), infoName.c_str(), 0);
            // An entry in "files" without a record (left by another program):
            // keep it and take the next name.
            if (moveError == EEXIST)
                continue;
            throwFileError(moveError, "trash", path);
        }

        // The item has moved; flushing the three folders makes that survive a
        // crash. A flush failure cannot undo the move, and the caller needs
        // the new location to check it, so it is not reported.
        files.sync();
        info.sync();
        PosixFile::syncDirectoryAt(folder, ".");
        return childPath(filesFolder, name);
    }
    throwFileError(EEXIST, "trash", path);
}

std::string FreedesktopTrash::mountTopDirectory(const std::string& realPath)
{
    std::string top = mountTopFromMountInfo(realPath);
    if (top.empty())
        top = mountTopByDevice(realPath);
    return top;
}

std::string FreedesktopTrash::infoText(const std::string& originalPath, const Location& trash, std::time_t deletionTime)
{
    // The home trash records absolute paths; a volume's trash records paths
    // relative to the volume's top, so that they still hold when the volume is
    // mounted elsewhere.
    std::string recorded = originalPath;
    if (!trash.topDirectory.empty() && isWithin(originalPath, trash.topDirectory) && originalPath != trash.topDirectory)
        recorded = trash.topDirectory == "/" ? originalPath.substr(1) : originalPath.substr(trash.topDirectory.size() + 1);

    struct tm local {};
    ::localtime_r(&deletionTime, &local);
    char date[32] = {};
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);

    return "[Trash Info]\nPath=" + percentEncoded(recorded) + "\nDeletionDate=" + date + "\n";
}

std::string FreedesktopTrash::percentEncoded(std::string_view path)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')
            || byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += digits[byte >> 4];
            encoded += digits[byte & 0xF];
        }
    }
    return encoded;
}

} // namespace tolvex
