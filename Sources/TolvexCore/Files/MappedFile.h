#pragma once

#include <QByteArray>

#include <cstddef>

namespace tolvex {

// The whole contents of a file as one read-only private mapping, unmapped when
// the value goes. Only for the store's own files: a file that someone else
// truncates under a mapping turns the next access into SIGBUS.
class MappedFile {
public:
    MappedFile() = default;
    // Takes over a mapping made by mmap(2); `size` 0 with a null address is
    // the empty file (which cannot be mapped).
    MappedFile(const void* address, std::size_t size) noexcept : address_(address), size_(size) {}
    ~MappedFile();

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::size_t size() const { return size_; }
    // A view over the mapping, without copying. It is valid only while this
    // value lives, and so is every QByteArray copied from it.
    QByteArray bytes() const;

private:
    const void* address_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace tolvex
