#include "TolvexCore/Startup/ResourceBundleLocator.h"

#include "TolvexCore/Texts/MessageKey.h"
#include "TolvexCore/Texts/StringTable.h"
#include "TolvexCore/Startup/PathResolution.h"

#include <QFileInfo>

#include <exception>

namespace tolvex {

namespace {

// Every link resolved; nothing when that is impossible, which the callers
// treat as a redirection.
std::optional<QString> resolvedPath(const QString& path)
{
    return PathResolution::resolvingSymlinks(path);
}

} // namespace

const char* ResourceBundleLocator::ResourceError::what() const noexcept
{
    return code_ == Code::missing ? "missing" : "incomplete";
}

const QStringList& ResourceBundleLocator::requiredLanguages()
{
    static const QStringList languages{QStringLiteral("en"), QStringLiteral("es"), QStringLiteral("zh-Hans")};
    return languages;
}

std::optional<ResourceBundle> ResourceBundleLocator::bundledResources()
{
    return ResourceBundle::core();
}

ResourceBundle ResourceBundleLocator::resolve(const AppBundle& appBundle)
{
    if (!appBundle.isApplication()) {
        const std::optional<ResourceBundle> bundled = bundledResources();
        if (!bundled)
            throw ResourceError::missing();
        return *bundled;
    }

    const std::optional<QString> resolvedFolder = resolvedPath(appBundle.folder());
    const std::optional<QString> resources = appBundle.resourceFolder();
    if (!resolvedFolder || !resources)
        throw ResourceError::missing();
    const QString expectedResources
        = PathResolution::appending(*resolvedFolder, QString::fromLatin1(AppBundle::resourceSubpath));
    if (resolvedPath(*resources) != expectedResources)
        throw ResourceError::missing();

    const QString bundlePath = PathResolution::appending(*resources, ResourceBundle::coreBundleName());
    if (!QFileInfo(bundlePath).isDir()
        || resolvedPath(bundlePath) != PathResolution::appending(expectedResources, ResourceBundle::coreBundleName()))
        throw ResourceError::missing();

    const ResourceBundle bundle(bundlePath);
    validate(bundle);
    return bundle;
}

void ResourceBundleLocator::validate(const ResourceBundle& bundle)
{
    // The core bundle keeps its language folders directly in its own folder,
    // so its resource folder is the bundle folder itself.
    const QString bundleFolder = bundle.path();
    const QString& resourceFolder = bundleFolder;
    if (bundleFolder.isEmpty() || !isUnredirectedChild(resourceFolder, bundleFolder))
        throw ResourceError::incomplete();

    for (const QString& language : requiredLanguages()) {
        const QString languageFolder = bundle.languageFolderPath(language);
        if (!QFileInfo(languageFolder).isDir()
            || PathResolution::standardized(languageFolder)
                != PathResolution::standardized(PathResolution::appending(
                    resourceFolder, language + u'.' + ResourceBundle::languageFolderExtension()))
            || !isUnredirectedChild(languageFolder, bundleFolder))
            throw ResourceError::incomplete();

        const ResourceBundle languageBundle(languageFolder);
        const QString tableFile = languageBundle.tablePath();
        // Only a regular file is read: a named pipe would hang the start.
        if (!isUnredirectedChild(tableFile, bundleFolder) || !QFileInfo(tableFile).isFile())
            throw ResourceError::incomplete();

        StringTable table;
        try {
            table = StringTable::load(tableFile);
        } catch (const std::exception&) {
            throw ResourceError::incomplete();
        }
        for (const MessageKey key : allMessageKeys()) {
            const std::optional<QString> text = table.value(messageKeyString(key));
            if (!text || text->isEmpty())
                throw ResourceError::incomplete();
        }
    }
}

bool ResourceBundleLocator::isUnredirectedChild(const QString& child, const QString& parent)
{
    const QString parentPath = PathResolution::standardized(parent);
    const QString childPath = PathResolution::standardized(child);
    const std::optional<QString> resolvedParent = resolvedPath(parent);
    const std::optional<QString> resolvedChild = resolvedPath(child);
    if (!resolvedParent || !resolvedChild)
        return false;
    if (childPath == parentPath)
        return *resolvedChild == *resolvedParent;
    const QString parentPrefix = parentPath.endsWith(u'/') ? parentPath : parentPath + u'/';
    if (!childPath.startsWith(parentPrefix))
        return false;
    const QString relative = childPath.mid(parentPrefix.size());
    return *resolvedChild == PathResolution::appending(*resolvedParent, relative);
}

} // namespace tolvex
