#include "Velmarin/Shell/AppEnvironment.h"

#include "TolvexCore/Startup/PathResolution.h"
#include "TolvexCore/Startup/StartupOptions.h"
#include "TolvexCore/Model/StoreError.h"

#include <QDir>
#include <QStandardPaths>

namespace tolvex {

AppEnvironment AppEnvironment::parse(const QStringList& arguments)
{
    const StartupOptions options = StartupOptions::parse(arguments);
    AppEnvironment environment;
    environment.checkResources = options.checkResources;
    environment.dataRoot = options.developmentRoot ? *options.developmentRoot : defaultDataRoot();
    return environment;
}

QUrl AppEnvironment::defaultDataRoot()
{
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty() || !QDir::isAbsolutePath(dataFolder))
        throw StoreError::invalidPath();
    return QUrl::fromLocalFile(PathResolution::appending(PathResolution::standardized(dataFolder), QStringLiteral("Tolvex")));
}

} // namespace tolvex
