#include "TolvexCore/Content/OwnedPaths.h"

#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Model/StoreError.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

namespace tolvex {

namespace {

bool isAbsoluteLocalPath(const QString& path)
{
    return path.startsWith(u'/');
}

// The last component and the folder above it of a standardized absolute path.
std::pair<QString, QString> splitLastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash <= 0)
        return {QStringLiteral("/"), path.mid(slash + 1)};
    return {path.left(slash), path.mid(slash + 1)};
}

std::filesystem::path nativePath(const QString& path)
{
    return std::filesystem::path(encodeLocalPath(path).toStdString());
}

} // namespace

QString OwnedPaths::standardized(const QString& path)
{
    return QDir::cleanPath(path);
}

std::optional<QString> OwnedPaths::resolvingSymbolicLinks(const QString& path)
{
    if (!isAbsoluteLocalPath(path))
        return std::nullopt;

    // Walk up to the longest prefix that exists (as an item of any kind, a
    // link included), so that a dangling link is resolved rather than taken
    // for a component that is merely missing.
    QString existing = standardized(path);
    QString missing;
    for (;;) {
        std::error_code error;
        [[maybe_unused]] const auto status = std::filesystem::symlink_status(nativePath(existing), error);
        if (!error)
            break;
        if (error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory)
            return std::nullopt;
        if (existing == u"/")
            break;
        const auto [parent, name] = splitLastComponent(existing);
        missing = missing.isEmpty() ? name : name + u'/' + missing;
        existing = parent;
    }

    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(nativePath(existing), error);
    if (error)
        return std::nullopt;
    QString result = decodeLocalPath(resolved.native());
    if (!missing.isEmpty())
        result += u'/' + missing;
    return standardized(result);
}

OwnedPaths::OwnedPaths(const QUrl& root)
{
    const QString given = root.isLocalFile() ? root.toLocalFile() : QString();
    if (!isAbsoluteLocalPath(given)) {
        // Not a place on this machine's disk: kept as given, and every guarded
        // path is refused because the root never resolves to its anchor.
        root_ = root;
        anchor_ = root;
        return;
    }
    rootPath_ = standardized(given);
    root_ = QUrl::fromLocalFile(rootPath_);

    const auto [parent, name] = splitLastComponent(rootPath_);
    // A parent that cannot be resolved now keeps its plain path; the guard
    // then refuses until it resolves to exactly that path.
    const QString resolvedParent = resolvingSymbolicLinks(parent).value_or(parent);
    anchorPath_ = standardized(resolvedParent + u'/' + name);
    anchor_ = QUrl::fromLocalFile(anchorPath_);
}

bool OwnedPaths::rootIsAtAnchor() const
{
    if (rootPath_.isEmpty())
        return false;
    const std::optional<QString> resolved = resolvingSymbolicLinks(rootPath_);
    return resolved && *resolved == anchorPath_;
}

QUrl OwnedPaths::url(const QString& relativePath) const
{
    if (relativePath.isEmpty() || relativePath.startsWith(u'/'))
        throw StoreError::invalidPath();
    // A NUL would cut the path short at the system call, naming another item.
    if (relativePath.contains(QChar(u'\0')))
        throw StoreError::invalidPath();
    const QStringList pieces = relativePath.split(u'/', Qt::KeepEmptyParts);
    for (const QString& piece : pieces) {
        if (piece.isEmpty() || piece == u"." || piece == u"..")
            throw StoreError::invalidPath();
    }

    if (!rootIsAtAnchor())
        throw StoreError::invalidPath();

    const QString candidate = standardized(rootPath_ + u'/' + relativePath);
    const QString expected = standardized(anchorPath_ + u'/' + relativePath);
    const std::optional<QString> resolved = resolvingSymbolicLinks(candidate);
    if (!resolved || *resolved != expected)
        throw StoreError::invalidPath();
    return QUrl::fromLocalFile(candidate);
}

} // namespace tolvex
