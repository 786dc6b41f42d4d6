#include "TolvexCore/Store/GuardedPathCache.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace tolvex {

namespace {

// A single name the guard would accept as a path component.
bool isPlainComponent(QStringView name)
{
    return !name.isEmpty() && name != u"." && name != u"..";
}

} // namespace

GuardedPathCache::GuardedPathCache(const OwnedPaths& paths) : paths_(paths), anchorPath_(paths.anchor().path())
{
    while (anchorPath_.size() > 1 && anchorPath_.endsWith(u'/'))
        anchorPath_.chop(1);
}

int GuardedPathCache::lookAt(const QString& relativePath) const
{
    const QByteArray path = QFile::encodeName(anchorPath_ + u'/' + relativePath);
    struct stat info;
    if (::lstat(path.constData(), &info) != 0)
        return errno == ENOENT ? 0 : -1;
    return S_ISLNK(info.st_mode) ? -1 : 1;
}

bool GuardedPathCache::checkFolder(const QString& folder)
{
    if (const auto known = folders_.constFind(folder); known != folders_.cend())
        return *known;
    const qsizetype slash = folder.lastIndexOf(u'/');
    bool exists = false;
    if (slash < 0) {
        // A folder at the top: the guard checks the root and the folder itself.
        paths_.url(folder);
        exists = lookAt(folder) == 1;
    } else {
        const QStringView name = QStringView(folder).mid(slash + 1);
        const bool parentExists = checkFolder(folder.left(slash));
        const int look = parentExists && isPlainComponent(name) ? lookAt(folder) : 0;
        if (!isPlainComponent(name) || look < 0) {
            paths_.url(folder);
            exists = lookAt(folder) == 1;
        } else {
            exists = look == 1;
        }
    }
    folders_.insert(folder, exists);
    return exists;
}

void GuardedPathCache::check(const QString& relativePath)
{
    const qsizetype slash = relativePath.lastIndexOf(u'/');
    // A NUL would cut the path short at the system call: only the guard decides then.
    if (slash <= 0 || relativePath.startsWith(u'/') || relativePath.contains(QChar(u'\0'))) {
        paths_.url(relativePath);
        return;
    }
    const QStringView name = QStringView(relativePath).mid(slash + 1);
    if (!isPlainComponent(name)) {
        paths_.url(relativePath);
        return;
    }
    if (!checkFolder(relativePath.left(slash)))
        return; // Below a missing folder nothing exists, so nothing can be a link.
    if (lookAt(relativePath) < 0)
        paths_.url(relativePath);
}

} // namespace tolvex
