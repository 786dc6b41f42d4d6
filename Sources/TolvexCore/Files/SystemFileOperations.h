#pragma once

#include "TolvexCore/Files/FileOperations.h"

#include <functional>
#include <string_view>

namespace tolvex {

class PosixFile;

// The real file layer over POSIX calls:
// - inspect: lstat; read: whole-file read;
// - copy: into a new file opened with O_EXCL; move: renameat2(RENAME_NOREPLACE),
//   or link and unlink where the file system lacks it;
// - writeAtomic: hidden temporary file in the same folder, fsync, rename over
//   the target, fsync of the folder; the temporary file is removed on failure;
// - prepareAtomicWrite: the same up to the flushed temporary file, the rename
//   and the folder's flush left to commit();
// - writeAtomicCopy: the same with a hard link of the source as the temporary
//   file (the source is already on disk), or a copy where links are refused;
// - writeAtomicSeparateCopy: the same with a copy of the source's contents
//   (copy_file_range, which may share blocks copy-on-write) as the temporary file;
// - availableBytes: statvfs; trash: the freedesktop.org Trash of the user;
// - list and listNames: readdir, hidden entries included;
// - inspectBelow: fstatat relative to the folder opened once; identities on
//   volumes whose change times the kernel keeps itself (not on a network or
//   FUSE volume, whose attributes may be cached or made up).
// Every call reaches an item below the path of a folder this process holds
// (DataRootLock) through the held folder's descriptor (openat, renameat and
// the like from it down), never through the path: see HeldFolders.
class SystemFileOperations final : public FileOperations {
public:
    // renameat2(RENAME_NOREPLACE), or a stand-in that answers as a file
    // system without it does (EINVAL), for the tests of the fallback.
    using RenameNoReplace = int (*)(int fromFolder, const char* from, int toFolder, const char* to);

    SystemFileOperations();
    explicit SystemFileOperations(RenameNoReplace rename) : renameNoReplace_(rename) {}

    FileInfo inspect(const QUrl& url) const override;
    QByteArray read(const QUrl& url) const override;
    void createDirectory(const QUrl& url) const override;
    void copy(const QUrl& source, const QUrl& destination) const override;
    void move(const QUrl& source, const QUrl& destination) const override;
    void writeAtomic(const QByteArray& bytes, const QUrl& url) const override;
    PreparedAtomicWrite prepareAtomicWrite(const QByteArray& bytes, const QUrl& url) const override;
    void writeAtomicCopy(const QUrl& source, const QUrl& destination) const override;
    void writeAtomicSeparateCopy(const QUrl& source, const QUrl& destination) const override;
    std::int64_t availableBytes(const QUrl& url) const override;
    QUrl trash(const QUrl& url) const override;
    QList<QUrl> list(const QUrl& url) const override;
    QStringList listNames(const QUrl& url) const override;
    std::optional<std::vector<ItemLook>> inspectBelow(const QUrl& folder, const QStringList& relativePaths) const override;
    OpenFile open(const QUrl& url) const override;
    FileInfo inspect(const OpenFile& file) const override;
    void read(const OpenFile& file, const Consumer& consume, std::int64_t maximumBytes) const override;
    MappedFile map(const OpenFile& file) const override;
    OpenFile copy(const OpenFile& source, const QUrl& folder, const QString& relativePath,
        MissingFolders missing, std::int64_t maximumBytes) const override;
    void sync(const OpenFile& file) const override;

    void removeAtomicWriteLeftover(const QUrl& url) const override;

    static FileOperationsRef shared();

private:
    // prepareAtomicWrite() with `fill` writing the temporary file (answering
    // 0 or an errno); `operation` names the call in errors.
    PreparedAtomicWrite prepareReplacement(
        const QUrl& url, std::string_view operation, const std::function<int(const PosixFile&)>& fill) const;

    RenameNoReplace renameNoReplace_;
};

} // namespace tolvex
