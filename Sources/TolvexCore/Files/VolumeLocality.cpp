#include "TolvexCore/Files/VolumeLocality.h"

#include "TolvexCore/Files/LocalPathEncoding.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <system_error>

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

namespace tolvex::VolumeLocality {

namespace {

// Magic numbers of linux/magic.h.
constexpr std::uint64_t networkMagics[] = {
    0x6969, // NFS
    0x517B, // SMB
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2
    0x5346414F, // AFS
    0x6B414653, // kAFS
    0x73757245, // Coda
    0x01021997, // 9P
    0x564C, // NCP
    0x00C36400, // Ceph
};
constexpr std::uint64_t fuseMagic = 0x65735546;

// FUSE helpers that reach another machine.
const char* const networkFuseHelpers[] = {
    "sshfs", "rclone", "s3fs", "gcsfuse", "goofys", "blobfuse", "blobfuse2", "curlftpfs", "gvfsd-fuse",
    "smbnetfs", "afpfs", "glusterfs", "ceph-fuse", "juicefs", "davfs", "httpfs2", "wdfs", "mfs", "lizardfs",
};

std::system_error systemError(int error, const char* what)
{
    return std::system_error(error, std::generic_category(), what);
}

} // namespace

bool isNetworkFilesystemMagic(std::uint64_t magic)
{
    for (const std::uint64_t network : networkMagics) {
        if (magic == network)
            return true;
    }
    return false;
}

bool isFuseMagic(std::uint64_t magic)
{
    return magic == fuseMagic;
}

bool isNetworkFuseType(QStringView filesystemType)
{
    if (!filesystemType.startsWith(u"fuse.") && !filesystemType.startsWith(u"fuseblk."))
        return false;
    const QStringView helper = filesystemType.mid(filesystemType.indexOf(u'.') + 1);
    for (const char* network : networkFuseHelpers) {
        if (helper == QLatin1StringView(network))
            return true;
    }
    return false;
}

std::optional<QString> mountType(const QByteArray& mountInfo, unsigned major, unsigned minor)
{
    const QByteArray device = QByteArray::number(major) + ':' + QByteArray::number(minor);
    for (const QByteArray& line : mountInfo.split('\n')) {
        // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw"
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3 || fields[2] != device)
            continue;
        const qsizetype separator = fields.indexOf(QByteArray("-"), 6);
        if (separator < 0 || separator + 1 >= fields.size())
            continue;
        return QString::fromUtf8(fields[separator + 1]);
    }
    return std::nullopt;
}

bool volumeIsLocal(const QString& path)
{
    const QByteArray encoded = encodeLocalPath(path);
    struct statfs volume;
    if (::statfs(encoded.constData(), &volume) != 0)
        throw systemError(errno, "statfs");
    const auto magic = static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<decltype(volume.f_type)>>(volume.f_type));
    if (isNetworkFilesystemMagic(magic))
        return false;
    if (!isFuseMagic(magic))
        return true;

    struct stat item;
    if (::stat(encoded.constData(), &item) != 0)
        throw systemError(errno, "stat");
    QFile mountInfo(QStringLiteral("/proc/self/mountinfo"));
    if (!mountInfo.open(QIODevice::ReadOnly))
        return true;
    const std::optional<QString> type = mountType(mountInfo.readAll(), major(item.st_dev), minor(item.st_dev));
    return !(type && isNetworkFuseType(*type));
}

} // namespace tolvex::VolumeLocality
