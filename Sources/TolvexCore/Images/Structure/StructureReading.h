#pragma once

// What the structure check of every format shares: byte order, bounds, a
// forward cursor over the data, and each format's entry point. Internal to
// the image layer: ImageStructure.h is the one way in.

#include "TolvexCore/Images/ImageStructure.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace tolvex::structure {

using Status = ImageStructure::Status;
using Format = ImageStructure::Format;

inline std::uint32_t be16(const std::uint8_t* p) { return (std::uint32_t(p[0]) << 8) | p[1]; }
inline std::uint32_t be32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
inline std::uint64_t be64(const std::uint8_t* p) { return (std::uint64_t(be32(p)) << 32) | be32(p + 4); }
inline std::uint32_t le16(const std::uint8_t* p) { return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8); }
inline std::uint32_t le24(const std::uint8_t* p) { return le16(p) | (std::uint32_t(p[2]) << 16); }
inline std::uint32_t le32(const std::uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }
inline std::uint64_t le64(const std::uint8_t* p) { return std::uint64_t(le32(p)) | (std::uint64_t(le32(p + 4)) << 32); }

// The worse of two verdicts: invalid over incomplete over complete.
inline Status worse(Status a, Status b)
{
    return static_cast<int>(a) > static_cast<int>(b) ? a : b;
}

// start + length <= limit, without overflow; all values non-negative.
inline bool fits(std::uint64_t start, std::uint64_t length, std::uint64_t limit)
{
    return start <= limit && length <= limit - start;
}

// Sequential reading with a window, for the walks that visit many small
// blocks (GIF sub-blocks, JPEG scans): memory is read in place, a file
// through one 64 KiB buffer, so memory use stays flat whatever the size.
class ByteCursor {
public:
    ByteCursor(const ImageBytes& bytes, std::int64_t position)
        : bytes_(bytes), size_(bytes.size()), position_(position), memory_(bytes.memory())
    {
    }

    std::int64_t position() const { return position_; }

    bool readByte(std::uint8_t& value)
    {
        std::int64_t available = 0;
        const std::uint8_t* data = span(available);
        if (available == 0)
            return false;
        value = *data;
        ++position_;
        return true;
    }

    bool read(void* out, std::int64_t length)
    {
        auto* target = static_cast<std::uint8_t*>(out);
        while (length > 0) {
            std::int64_t available = 0;
            const std::uint8_t* data = span(available);
            if (available == 0)
                return false;
            const std::int64_t count = std::min(available, length);
            std::memcpy(target, data, static_cast<std::size_t>(count));
            target += count;
            length -= count;
            position_ += count;
        }
        return true;
    }

    // False, at the end, when the data ends before.
    bool skip(std::int64_t length)
    {
        if (length > size_ - position_) {
            position_ = size_;
            return false;
        }
        position_ += length;
        return true;
    }

    // Moves to the next occurrence of the value; false, at the end, when none.
    bool find(std::uint8_t value)
    {
        for (;;) {
            std::int64_t available = 0;
            const std::uint8_t* data = span(available);
            if (available == 0)
                return false;
            if (const void* hit = std::memchr(data, value, static_cast<std::size_t>(available))) {
                position_ += static_cast<const std::uint8_t*>(hit) - data;
                return true;
            }
            position_ += available;
        }
    }

private:
    const std::uint8_t* span(std::int64_t& available)
    {
        available = 0;
        if (position_ >= size_)
            return nullptr;
        if (memory_) {
            available = size_ - position_;
            return memory_ + position_;
        }
        if (position_ < windowStart_ || position_ >= windowStart_ + windowLength_) {
            // Reading on from the window's end is a sequential walk and gets a
            // large read; after a jump (a skipped chunk) a small one, so a walk
            // over large chunks reads little more than their headers.
            const std::int64_t length = position_ == windowStart_ + windowLength_ ? kWindow : kSmallWindow;
            window_.resize(kWindow);
            windowStart_ = position_;
            windowLength_ = bytes_.readAt(position_, window_.data(), length);
            if (windowLength_ <= 0) {
                windowLength_ = 0;
                return nullptr;
            }
        }
        available = windowStart_ + windowLength_ - position_;
        return window_.data() + (position_ - windowStart_);
    }

    static constexpr std::int64_t kWindow = 64 * 1024;
    static constexpr std::int64_t kSmallWindow = 256;
    const ImageBytes& bytes_;
    std::int64_t size_;
    std::int64_t position_;
    const std::uint8_t* memory_;
    std::vector<std::uint8_t> window_;
    std::int64_t windowStart_ = 0;
    std::int64_t windowLength_ = 0;
};

inline ImageStructure makeStructure(Format format, const QString& identifier)
{
    ImageStructure structure;
    structure.format = format;
    structure.typeIdentifier = identifier;
    return structure;
}

ImageStructure inspectPng(const ImageBytes& bytes);
ImageStructure inspectJpeg(const ImageBytes& bytes);
ImageStructure inspectGif(const ImageBytes& bytes);
ImageStructure inspectBmp(const ImageBytes& bytes);
ImageStructure inspectWebp(const ImageBytes& bytes);
ImageStructure inspectTiff(const ImageBytes& bytes, bool littleEndian, bool big);
ImageStructure inspectHeif(const ImageBytes& bytes, const QString& identifier);

// For telling the formats apart by their first bytes.
bool isKnownBmpHeaderSize(std::uint32_t size);
// The type identifier the brands of a HEIF "ftyp" box name; empty for none of ours.
QString heifTypeFromBrands(const ImageBytes& bytes);

} // namespace tolvex::structure
