#include "TolvexCore/Startup/AppBundle.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Startup/PathResolution.h"

#include <QFileInfo>

namespace tolvex {

AppBundle AppBundle::main()
{
    // /proc/self/exe names the executable with every link resolved, like
    // QCoreApplication::applicationDirPath(), but needs no application object.
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return forExecutableFolder(PathResolution::deletingLastComponent(executable));
}

AppBundle AppBundle::forExecutableFolder(const QString& executableFolder)
{
    AppBundle bundle;
    bundle.executableFolder_ = PathResolution::standardized(executableFolder);
    const QString prefix = PathResolution::deletingLastComponent(bundle.executableFolder_);
    bundle.isApplication_ = DataRoot::lastPathComponent(bundle.executableFolder_) == u"bin" && !prefix.isEmpty()
        && QFileInfo(PathResolution::appending(prefix, QString::fromLatin1(resourceSubpath))).isDir();
    bundle.folder_ = bundle.isApplication_ ? prefix : bundle.executableFolder_;
    return bundle;
}

std::optional<QString> AppBundle::resourceFolder() const
{
    if (!isApplication_)
        return std::nullopt;
    return PathResolution::appending(folder_, QString::fromLatin1(resourceSubpath));
}

} // namespace tolvex
