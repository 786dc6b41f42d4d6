#include "TolvexCore/Files/MappedFile.h"

#include <utility>

#include <sys/mman.h>

namespace tolvex {

MappedFile::~MappedFile()
{
    if (address_)
        ::munmap(const_cast<void*>(address_), size_);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0))
{
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        if (address_)
            ::munmap(const_cast<void*>(address_), size_);
        address_ = std::exchange(other.address_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

QByteArray MappedFile::bytes() const
{
    if (!address_)
        return QByteArray();
    return QByteArray::fromRawData(static_cast<const char*>(address_), static_cast<qsizetype>(size_));
}

} // namespace tolvex
