#pragma once

#include "TolvexCore/Files/FileOperations.h"

namespace tolvex {

// The real file layer over POSIX calls:
// - inspect: lstat; read: whole-file read;
// - copy: into a new file opened with O_EXCL; move: renameat2(RENAME_NOREPLACE);
// - writeAtomic: hidden temporary file in the same folder, fsync, rename over
//   the target, fsync of the folder; the temporary file is removed on failure;
// - availableBytes: statvfs; trash: the freedesktop.org Trash of the user;
// - list: readdir, hidden entries included.
class SystemFileOperations final : public FileOperations {
public:
    FileInfo inspect(const QUrl& url) const override;
    QByteArray read(const QUrl& url) const override;
    void createDirectory(const QUrl& url) const override;
    void copy(const QUrl& source, const QUrl& destination) const override;
    void move(const QUrl& source, const QUrl& destination) const override;
    void writeAtomic(const QByteArray& bytes, const QUrl& url) const override;
    std::int64_t availableBytes(const QUrl& url) const override;
    QUrl trash(const QUrl& url) const override;
    QList<QUrl> list(const QUrl& url) const override;

    static FileOperationsRef shared();
};

} // namespace tolvex
