#pragma once

#include <QString>

#include <cstdint>

namespace tolvex {

// A file opened for reading by path, for the image layer: positioned reads
// (pread), so one open file can serve several readers without a shared file
// position. Opening never blocks: a FIFO or a device opens without waiting
// and reports itself through isRegularFile(), so that callers can refuse it
// before reading. Failures are std::system_error with the errno.
class ReadOnlyFile {
public:
    // What a symbolic link at the end of the path does: followed, or
    // refused (ELOOP), for a file of the program's own that nobody else may
    // point elsewhere.
    enum class FinalLink { follow, refuse };

    // Opens the file and takes its size.
    static ReadOnlyFile open(const QString& path, FinalLink link = FinalLink::follow);

    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    // Closes the file; an error on closing is ignored.
    ~ReadOnlyFile();

    int descriptor() const { return descriptor_; }
    bool isRegularFile() const { return regular_; }
    bool isDirectory() const { return directory_; }
    // The size when the file was opened.
    std::int64_t size() const { return size_; }
    // Reads up to `length` bytes at `offset`, fewer only at the end of the
    // file; throws std::system_error when the read fails.
    std::int64_t readAt(std::int64_t offset, void* buffer, std::int64_t length) const;

private:
    ReadOnlyFile(int descriptor, bool regular, bool directory, std::int64_t size) noexcept;

    int descriptor_ = -1;
    bool regular_ = false;
    bool directory_ = false;
    std::int64_t size_ = 0;
};

} // namespace tolvex
