#pragma once

#include <QString>

#include <utility>

namespace tolvex {

// The claim of one process on one data root: an exclusive flock on a
// descriptor of the root folder itself. No file is added to the root, and the
// kernel drops the claim when the process ends however it ends (kill -9
// included), so a crash never leaves a stale lock behind. Two open
// descriptions conflict even inside one process, so two stores over one root
// exclude each other as two programs would.
//
// Move-only; the claim ends when the holder is destroyed (the descriptor is
// closed).
class DataRootLock {
public:
    // Makes the folder when it is missing (mkdir -p, as the store's first
    // load would), opens it and takes the claim without waiting. A root given
    // as a link to a folder is opened through the link: the store's path
    // guard, not the lock, is what refuses such a root, with the same error
    // as before there was a lock. Throws std::system_error with the errno:
    // EWOULDBLOCK when another holder has the claim, EINVAL for a path that
    // is not absolute, and the errors of mkdir and open.
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

private:
    DataRootLock(int descriptor, QString path) : descriptor_(descriptor), path_(std::move(path)) {}
    void release() noexcept;

    int descriptor_ = -1;
    QString path_;
};

} // namespace tolvex
