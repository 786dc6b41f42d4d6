#include "DevFolder.h"

#include <QFile>
#include <QUuid>

#include <filesystem>
#include <sys/stat.h>

namespace tolvex::testing {

DevFolderEntry::DevFolderEntry(const QString& label)
{
    // mkdir, not mkdir -p: /tmp exists, and EEXIST is the usual answer.
    ::mkdir("/tmp/tolvex-dev", 0777);
    path_ = QStringLiteral("/tmp/tolvex-dev/") + label + u'-' + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

DevFolderEntry::~DevFolderEntry()
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(path_).toStdString()), ignored);
}

QString DevFolderEntry::name() const
{
    return path_.mid(path_.lastIndexOf(u'/') + 1);
}

} // namespace tolvex::testing
