#include "Velmarin/Platform/Bookmark.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Files/VolumeLocality.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <system_error>

#include <sys/stat.h>

namespace tolvex::Bookmark {

namespace {

// "tolvex-bookmark 1", the device, the inode and the path, one per line;
// the path comes last and may hold any byte.
constexpr char magic[] = "tolvex-bookmark 1";

struct stat inspect(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(encoded.constData(), &status) != 0)
        throw std::system_error(errno, std::generic_category(), "inspect " + encoded.toStdString());
    return status;
}

std::optional<unsigned long long> decimal(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 20)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    bool ok = false;
    const unsigned long long value = text.toULongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

QByteArray create(const QString& folderPath)
{
    const struct stat status = inspect(folderPath);
    QByteArray data(magic);
    data += '\n' + QByteArray::number(static_cast<qulonglong>(status.st_dev));
    data += '\n' + QByteArray::number(static_cast<qulonglong>(status.st_ino));
    data += '\n' + QFile::encodeName(folderPath);
    return data;
}

QString resolve(const QByteArray& bookmark)
{
    const QList<QByteArray> header = bookmark.split('\n').mid(0, 3);
    if (header.size() < 3 || header[0] != magic)
        throw StoreError::invalidSource();
    const std::optional<unsigned long long> device = decimal(header[1]);
    const std::optional<unsigned long long> inode = decimal(header[2]);
    const qsizetype pathStart = header[0].size() + header[1].size() + header[2].size() + 3;
    const QByteArray encodedPath = bookmark.mid(pathStart);
    if (!device || !inode || !encodedPath.startsWith('/') || encodedPath.contains('\0'))
        throw StoreError::invalidSource();
    const QString path = QFile::decodeName(encodedPath);
    const struct stat status = inspect(path);
    if (static_cast<unsigned long long>(status.st_dev) != *device
        || static_cast<unsigned long long>(status.st_ino) != *inode)
        throw StoreError::invalidSource();
    return path;
}

void requireWatchableFolder(const QString& folderPath)
{
    const bool local = VolumeLocality::volumeIsLocal(folderPath);
    const struct stat status = inspect(folderPath);
    if (!local || !S_ISDIR(status.st_mode))
        throw StoreError::invalidPath();
}

} // namespace tolvex::Bookmark
