#include "TolvexCore/Store/Internal/GuardedPathCache.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {

namespace {

// A single name the guard would accept as a path component.
bool isPlainComponent(QStringView name)
{
    return !name.isEmpty() && name != u"." && name != u"..";
}

} // namespace

GuardedPathCache::GuardedPathCache(const OwnedPaths& paths) : paths_(paths) {}

GuardedPathCache::~GuardedPathCache()
{
    if (rootDescriptor_ >= 0)
        ::close(rootDescriptor_);
}

GuardedPathCache::Look GuardedPathCache::lookAt(const QString& relativePath)
{
    if (rootDescriptor_ < 0) {
        // Only reached after the guard accepted a path, so the root is at its
        // anchor; the anchor has no link in it, and its last component is not
        // followed either.
        rootDescriptor_ = ::open(QFile::encodeName(paths_.anchor().toLocalFile()).constData(),
            O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (rootDescriptor_ < 0)
            return Look::other;
    }
    struct stat info;
    if (::fstatat(rootDescriptor_, QFile::encodeName(relativePath).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Look::missing : Look::other;
    return S_ISLNK(info.st_mode) ? Look::other : Look::plain;
}

GuardedPathCache::Look GuardedPathCache::lookAtChild(const QString& parent, QStringView name, const QString& relativePath)
{
    auto listing = listings_.find(parent);
    if (listing == listings_.end()) {
        std::optional<QHash<QString, Look>> entries;
        const int folder = rootDescriptor_ < 0 ? -1
            : ::openat(rootDescriptor_, QFile::encodeName(parent).constData(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (DIR* stream = folder >= 0 ? ::fdopendir(folder) : nullptr) {
            entries.emplace();
            while (const dirent* entry = ::readdir(stream)) {
                // Entries of unknown type are looked at one by one.
                if (entry->d_type != DT_UNKNOWN)
                    entries->insert(QFile::decodeName(entry->d_name), entry->d_type == DT_LNK ? Look::other : Look::plain);
            }
            ::closedir(stream);
        } else if (folder >= 0) {
            ::close(folder);
        }
        listing = listings_.insert(parent, std::move(entries));
    }
    if (!*listing)
        return lookAt(relativePath);
    const auto found = (*listing)->constFind(name.toString());
    if (found == (*listing)->cend())
        return lookAt(relativePath); // missing, or of unknown type
    return *found;
}

bool GuardedPathCache::checkFolder(const QString& folder, bool remember)
{
    if (const auto known = folders_.constFind(folder); known != folders_.cend())
        return *known;
    const qsizetype slash = folder.lastIndexOf(u'/');
    const QStringView name = QStringView(folder).mid(slash + 1);
    // A top folder, or one below a folder that exists, is looked at itself;
    // below a missing folder nothing exists.
    const bool parentExists = slash < 0 || checkFolder(folder.left(slash), true);
    Look look = Look::missing;
    if (slash < 0) {
        paths_.url(folder); // checks the root and the folder itself
        look = lookAt(folder);
    } else if (parentExists) {
        look = isPlainComponent(name) ? lookAtChild(folder.left(slash), name, folder) : Look::other;
    } else if (!isPlainComponent(name)) {
        look = Look::other;
    }
    if (look == Look::other) {
        paths_.url(folder);
        look = lookAt(folder) == Look::plain ? Look::plain : Look::missing;
    }
    const bool exists = look == Look::plain;
    if (remember)
        folders_.insert(folder, exists);
    return exists;
}

void GuardedPathCache::check(const QString& relativePath)
{
    const qsizetype slash = relativePath.lastIndexOf(u'/');
    const QStringView name = QStringView(relativePath).mid(slash + 1);
    // A NUL would cut the path short at the system call: only the guard decides then.
    if (slash <= 0 || relativePath.startsWith(u'/') || !isPlainComponent(name) || relativePath.contains(QChar(u'\0'))) {
        paths_.url(relativePath);
        return;
    }
    if (QStringView(relativePath).left(slash) != lastFolder_) {
        QString folder = relativePath.left(slash);
        lastFolderExists_ = checkFolder(folder, false);
        // Remembered only once the folder passed.
        lastFolder_ = std::move(folder);
    }
    // Below a missing folder nothing exists, so nothing can be a link.
    if (lastFolderExists_ && lookAt(relativePath) == Look::other)
        paths_.url(relativePath);
}

QUrl GuardedPathCache::url(const QString& relativePath)
{
    check(relativePath);
    // The root-based URL, as the guard returns it.
    return QUrl::fromLocalFile(OwnedPaths::standardized(paths_.root().toLocalFile() + u'/' + relativePath));
}

} // namespace tolvex
