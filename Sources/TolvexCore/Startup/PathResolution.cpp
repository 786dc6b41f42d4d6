#include "TolvexCore/Startup/PathResolution.h"

#include "TolvexCore/Content/OwnedPaths.h"
#include "TolvexCore/Model/DataRoot.h"

#include <QDir>

namespace tolvex::PathResolution {

QString standardized(const QString& path)
{
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(path);
}

std::optional<QString> resolvingSymlinks(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QString absolute = QDir::isAbsolutePath(path) ? path : appending(QDir::currentPath(), path);
    return OwnedPaths::resolvingSymbolicLinks(absolute);
}

QUrl resolvingSymlinks(const QUrl& url)
{
    if (!url.isLocalFile())
        return QUrl();
    const std::optional<QString> resolved = resolvingSymlinks(url.toLocalFile());
    return resolved ? QUrl::fromLocalFile(*resolved) : QUrl();
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
