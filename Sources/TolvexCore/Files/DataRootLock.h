#pragma once

#include <QString>

#include <cstdint>
#include <utility>

namespace tolvex {

// The claim of one process on one data root: an exclusive flock on a
// descriptor of the root folder itself. No file is added to the root, and the
// kernel drops the claim when the process ends however it ends (kill -9
// included), so a crash never leaves a stale lock behind. Two open
// descriptions conflict even inside one process, so two stores over one root
// exclude each other as two programs would.
//
// The claim belongs to the folder, not to its path: a folder moved away
// stays claimed wherever it goes, and whatever is put at its path is not.
// While the claim is held, the file layer (SystemFileOperations) reaches
// every item below the path through the claimed folder itself, so that no
// call in flight when the folder is replaced lands in what now stands at
// the path; whoever goes on working on the root asks isHeldFolder() before
// each operation, to stop once the folder has left its path.
//
// Move-only; the claim ends when the holder is destroyed (the descriptor is
// closed).
class DataRootLock {
public:
    // Makes the folder when it is missing (mkdir -p, as the store's first
    // load would), opens it and takes the claim without waiting. A root that
    // is a link is not followed: the claim is on the folder at the path
    // itself, never on what a link names. Throws std::system_error with the
    // errno: EWOULDBLOCK when another holder has the claim, ENOTDIR for a link,
    // EINVAL for a path that is not absolute, and the errors of mkdir and open.
    static DataRootLock acquire(const QString& dataRootPath);

    DataRootLock(DataRootLock&& other) noexcept;
    DataRootLock& operator=(DataRootLock&& other) noexcept;
    DataRootLock(const DataRootLock&) = delete;
    DataRootLock& operator=(const DataRootLock&) = delete;
    ~DataRootLock();

    // The path the claim was taken for; empty once moved from.
    const QString& path() const { return path_; }
    // False once moved from.
    bool isHeld() const { return descriptor_ >= 0; }

    // Whether `path` names the claimed folder at this moment: the device and
    // inode of the claimed descriptor against one lstat of the path, so a
    // link at the path is never the folder, even one that names it. False
    // for a path that names nothing any more (ENOENT, ENOTDIR) or another
    // item, and once moved from; any other failure of the look throws
    // std::system_error with the errno.
    bool isHeldFolder(const QString& path) const;

private:
    DataRootLock(int descriptor, QString path, std::uint64_t device, std::uint64_t inode, std::uint64_t heldKey)
        : descriptor_(descriptor), path_(std::move(path)), device_(device), inode_(inode), heldKey_(heldKey)
    {
    }
    void release() noexcept;

    int descriptor_ = -1;
    QString path_;
    // Of the claimed folder; an open descriptor's never change.
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
    // The claimed folder's entry among the file layer's held folders; 0 for none.
    std::uint64_t heldKey_ = 0;
};

} // namespace tolvex
