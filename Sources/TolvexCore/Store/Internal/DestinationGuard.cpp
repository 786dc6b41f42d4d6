#include "TolvexCore/Store/Internal/DestinationGuard.h"

#include "TolvexCore/Model/StoreError.h"

namespace tolvex {

namespace {

// The part of `path` below `folder` ("" for the folder itself); none when
// `path` is not at or below `folder`.
std::optional<QString> below(const QString& path, const QString& folder)
{
    if (folder.isEmpty())
        return std::nullopt;
    if (path == folder)
        return QString();
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    if (path.startsWith(prefix))
        return path.mid(prefix.size());
    return std::nullopt;
}

} // namespace

DestinationPlacement DestinationGuard::place(const OwnedPaths& paths, const QUrl& destination)
{
    const QString host = destination.host();
    if (!destination.isLocalFile() || !(host.isEmpty() || host == u"localhost"))
        throw StoreError::invalidPath();
    const QString given = destination.toLocalFile();
    // A NUL would cut the path short at the system call, naming another item.
    if (!given.startsWith(u'/') || given.contains(QChar(u'\0')))
        throw StoreError::invalidPath();

    const QString path = OwnedPaths::standardized(given);
    const std::optional<QString> resolved = OwnedPaths::resolvingSymbolicLinks(path);
    if (!resolved)
        throw StoreError::invalidPath();

    const QString rootPath = paths.root().isLocalFile() ? OwnedPaths::standardized(paths.root().toLocalFile()) : QString();
    const QString anchorPath =
        paths.anchor().isLocalFile() ? OwnedPaths::standardized(paths.anchor().toLocalFile()) : QString();

    std::optional<QString> spelled = below(path, rootPath);
    if (!spelled)
        spelled = below(path, anchorPath);
    std::optional<QString> landing = below(*resolved, anchorPath);
    if (!landing)
        landing = below(*resolved, rootPath);

    if (spelled || landing) {
        // Inside: the part below the root must resolve to itself.
        if (!spelled || !landing || *spelled != *landing)
            throw StoreError::invalidPath();
        return DestinationPlacement{path, spelled};
    }
    if (*resolved != path)
        throw StoreError::invalidPath();
    return DestinationPlacement{path, std::nullopt};
}

} // namespace tolvex
