#include "Velmarin/Platform/PlainFile.h"

#include "TolvexCore/Files/PosixFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace tolvex::PlainFile {

std::optional<QByteArray> readWhole(const QString& path, std::int64_t expectedSize)
{
    const PosixFile file = PosixFile::open(QFile::encodeName(path).toStdString(),
        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (!file.isOpen())
        return std::nullopt;
    struct stat status {};
    if (::fstat(file.fd(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != expectedSize)
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(expectedSize));
    if (file.readAll(bytes) != 0 || bytes.size() != expectedSize)
        return std::nullopt;
    return bytes;
}

} // namespace tolvex::PlainFile
