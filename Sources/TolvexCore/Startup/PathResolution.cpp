#include "TolvexCore/Startup/PathResolution.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <deque>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::PathResolution {

namespace {

// As many hops as the kernel follows before it reports ELOOP.
constexpr int maxLinkHops = 40;

bool lstatPath(const QString& path, struct stat& info)
{
    const QByteArray native = QFile::encodeName(path);
    return ::lstat(native.constData(), &info) == 0;
}

std::optional<QString> readLink(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    QByteArray buffer(4096, Qt::Uninitialized);
    const ssize_t length = ::readlink(native.constData(), buffer.data(), buffer.size());
    if (length < 0 || length >= buffer.size())
        return std::nullopt;
    buffer.truncate(length);
    return QFile::decodeName(buffer);
}

} // namespace

QString standardized(const QString& path)
{
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(path);
}

QString resolvingSymlinks(const QString& path)
{
    const QString absolute = QDir::isAbsolutePath(path) ? path : appending(QDir::currentPath(), path);
    std::deque<QString> pending;
    for (const QString& component : absolute.split(u'/', Qt::SkipEmptyParts))
        pending.push_back(component);

    QString resolved; // empty stands for "/"
    bool pastExisting = false;
    int hops = 0;
    while (!pending.empty()) {
        const QString component = pending.front();
        pending.pop_front();
        if (component == u".")
            continue;
        if (component == u"..") {
            const qsizetype slash = resolved.lastIndexOf(u'/');
            resolved = slash <= 0 ? QString() : resolved.left(slash);
            struct stat info {};
            pastExisting = !resolved.isEmpty() && !lstatPath(resolved, info);
            continue;
        }
        const QString candidate = resolved + u'/' + component;
        if (pastExisting) {
            resolved = candidate;
            continue;
        }
        struct stat info {};
        if (!lstatPath(candidate, info)) {
            pastExisting = true;
            resolved = candidate;
            continue;
        }
        if (!S_ISLNK(info.st_mode)) {
            resolved = candidate;
            continue;
        }
        const std::optional<QString> target = readLink(candidate);
        if (!target || ++hops > maxLinkHops) {
            // Unreadable or looping: keep the rest as written.
            resolved = candidate;
            pastExisting = true;
            continue;
        }
        const QStringList targetComponents = target->split(u'/', Qt::SkipEmptyParts);
        for (auto it = targetComponents.crbegin(); it != targetComponents.crend(); ++it)
            pending.push_front(*it);
        if (target->startsWith(u'/'))
            resolved.clear();
    }
    return resolved.isEmpty() ? QStringLiteral("/") : resolved;
}

QUrl resolvingSymlinks(const QUrl& url)
{
    return QUrl::fromLocalFile(resolvingSymlinks(url.toLocalFile()));
}

QString lastComponent(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/'))
        trimmed.chop(1);
    if (trimmed == u"/")
        return trimmed;
    const qsizetype slash = trimmed.lastIndexOf(u'/');
    return slash < 0 ? trimmed : trimmed.mid(slash + 1);
}

QString deletingLastComponent(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/'))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(u'/');
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : trimmed.left(slash);
}

QString appending(const QString& base, const QString& component)
{
    if (base.endsWith(u'/'))
        return base + component;
    return base + u'/' + component;
}

} // namespace tolvex::PathResolution
