#include "Velmarin/Common/ChooserFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tolvex::ChooserFolders {

namespace {

QString existingOrHome(QStandardPaths::StandardLocation location)
{
    const QString folder = QStandardPaths::writableLocation(location);
    // Without a folder of its own the location answers the home folder, or nothing.
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    return QDir::homePath();
}

} // namespace

QString pictures()
{
    return existingOrHome(QStandardPaths::PicturesLocation);
}

QString documents()
{
    return existingOrHome(QStandardPaths::DocumentsLocation);
}

} // namespace tolvex::ChooserFolders
