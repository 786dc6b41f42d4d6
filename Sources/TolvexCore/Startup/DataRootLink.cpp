#include "TolvexCore/Startup/DataRootLink.h"

#include "TolvexCore/Startup/PathResolution.h"

#include <QFileInfo>

namespace tolvex {

std::optional<QString> DataRootLink::target(const QUrl& dataRoot)
{
    // Standardized: a trailing separator would look through a link at the end.
    const QString path = PathResolution::standardized(dataRoot.toLocalFile());
    if (path.isEmpty())
        return std::nullopt;
    const QFileInfo item(path);
    if (!item.isSymLink())
        return std::nullopt;
    if (const std::optional<QString> resolved = PathResolution::resolvingSymlinks(path))
        return resolved;
    return item.symLinkTarget();
}

} // namespace tolvex
