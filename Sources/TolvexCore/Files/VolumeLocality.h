#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace tolvex {

// Whether a file lies on a local volume. Like the path guard's resolution of
// links, this asks the system directly (statfs), outside the file layer.
//
// The rule: a volume is local unless its file-system type is a network one
// (NFS, SMB, CIFS, SMB2, AFS and kAFS, Coda, 9P, NCP, Ceph), or it is a FUSE
// volume whose mount (found by device number in /proc/self/mountinfo) names
// a network helper (sshfs, rclone, s3fs, gvfsd-fuse...). A FUSE volume that
// cannot be told apart (no mount entry, another helper) counts as local:
// refusing every FUSE volume would refuse local ones such as ntfs-3g.
namespace VolumeLocality {

// Throws std::system_error when the volume cannot be asked (a missing file).
bool volumeIsLocal(const QString& path);

// The parts of the rule, for testing.
bool isNetworkFilesystemMagic(std::uint64_t magic);
bool isFuseMagic(std::uint64_t magic);
bool isNetworkFuseType(QStringView filesystemType);
// The file-system type of the mount whose device is major:minor, from the
// text of a mountinfo file; absent when no line names that device.
std::optional<QString> mountType(const QByteArray& mountInfo, unsigned major, unsigned minor);

} // namespace VolumeLocality
} // namespace tolvex
