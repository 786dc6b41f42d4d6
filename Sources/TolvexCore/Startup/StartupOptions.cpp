#include "TolvexCore/Startup/StartupOptions.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Startup/PathResolution.h"

namespace tolvex {

namespace {

const QString checkResourcesOption = QStringLiteral("--check-resources");
const QString dataRootOption = QStringLiteral("--data-root");

QString pathOf(const QUrl& url)
{
    return PathResolution::standardized(url.toLocalFile());
}

} // namespace

StartupOptions StartupOptions::parse(const QStringList& arguments)
{
    StartupOptions options;
    bool checkSeen = false;
    for (qsizetype index = 0; index < arguments.size();) {
        const QString& argument = arguments[index];
        if (argument == checkResourcesOption) {
            if (checkSeen)
                throw ArgumentError::invalid();
            checkSeen = true;
            options.checkResources = true;
            index += 1;
        } else if (argument == dataRootOption) {
            if (options.developmentRoot || index + 1 >= arguments.size())
                throw ArgumentError::invalid();
            options.developmentRoot = validateDevelopmentRoot(arguments[index + 1], [](const QUrl& url) {
                return PathResolution::resolvingSymlinks(url);
            });
            index += 2;
        } else {
            throw ArgumentError::invalid();
        }
    }
    return options;
}

QUrl StartupOptions::validateDevelopmentRoot(const QString& value, const std::function<QUrl(const QUrl&)>& resolve)
{
    const QString prefix = QString::fromLatin1(developmentFolder);
    // Checked first: a relative value never reaches the file system.
    if (!value.startsWith(prefix) || value.contains(QStringLiteral("/../")))
        throw ArgumentError::invalid();

    const QUrl candidate = QUrl::fromLocalFile(value);
    const QString resolvedTmp = pathOf(resolve(QUrl::fromLocalFile(QStringLiteral("/tmp"))));
    const QString expectedBase = pathOf(resolve(QUrl::fromLocalFile(QStringLiteral("/tmp/tolvex-dev"))));
    const QString resolvedFolder = pathOf(resolve(candidate));
    // A path that cannot be resolved (a dangling or looping link) is refused.
    if (resolvedTmp.isEmpty() || expectedBase.isEmpty() || resolvedFolder.isEmpty())
        throw ArgumentError::invalid();

    const QString base = PathResolution::appending(resolvedTmp, QStringLiteral("tolvex-dev"));
    const QString expectedFolder = PathResolution::appending(base, DataRoot::lastPathComponent(value));
    const QString resolvedName = DataRoot::lastPathComponent(resolvedFolder);

    const bool accepted = expectedBase == base && resolvedFolder == expectedFolder
        && PathResolution::deletingLastComponent(resolvedFolder) == base && !resolvedName.isEmpty()
        && resolvedName != u"." && resolvedName != u"..";
    if (!accepted)
        throw ArgumentError::invalid();
    return QUrl::fromLocalFile(resolvedFolder);
}

} // namespace tolvex
