#include "TolvexCore/Images/ImageStructure.h"

#include "TolvexCore/Images/HeifContainer.h"
#include "TolvexCore/Images/UniformType.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <unordered_set>

#include <unistd.h>

// How each format is judged whole, from its structure alone (no pixel is
// decoded). "incomplete" means the data ends before the structure does, as a
// file still being written or cut short would; "invalid" means the structure
// is broken or names something no decoder here can read.
//
// PNG   The chunk list is walked from IHDR (whose CRC must hold) to IEND; every
//       chunk must lie within the data, and IDAT must come before IEND.
//       Chunk data is not read, so the walk costs one small read per chunk.
//       Bytes after IEND do not change the status; ImageAdmission adds its
//       own test that the data ends with the 12-byte IEND chunk.
// JPEG  The marker segments from SOI up to the first scan must lie within the
//       data and include a frame header (SOF) of a process libjpeg decodes.
//       Then the end must be an EOI marker: either the data ends with FF D9,
//       possibly followed by 00 or FF padding (cameras and some writers pad),
//       or, failing that, the scans are walked on to the first EOI; whatever
//       follows that EOI (an appended trailer, a motion-photo video) is not
//       the image's business. Inside entropy-coded data FF D9 can only be an
//       EOI, so the end test cannot be fooled by pixel data, and a cut inside
//       the header segments (an embedded Exif thumbnail also ends in FF D9) is
//       caught by the segment walk.
// GIF   The block list is walked (extensions and image descriptors with
//       their sub-blocks) to the trailer 0x3B. A last byte of 0x3B alone
//       proves nothing, since a cut can land on such a byte. Every frame seen
//       whole is complete; a frame cut short is incomplete.
// BMP   The pixel array must lie within the data: its offset plus its size,
//       computed from width, height and bit depth (rows padded to 4 bytes),
//       or the header's image size for RLE data. The file-size field of the
//       header is not trusted: writers in the wild leave it 0 or wrong.
// WebP  The RIFF size must fit within the data and the chunks must lie
//       within the RIFF data; the first chunk must be VP8, VP8L or VP8X, and
//       an extended file must carry image data (or animation frames).
// TIFF  IFD0 must lie within the data, and so must every strip or tile it
//       points at (offset plus byte count). The chain of further IFDs must
//       lie within the data for the whole source to be complete; their own
//       strips decide only their own image's status.
// HEIF  Every top-level box must lie within the data, libheif must parse the
//       container, and every item location (iloc extent) must lie within the
//       data (or within the idat box for items stored there). A cut through
//       the media data therefore always leaves some item reaching past the
//       end.

namespace tolvex {

using Status = ImageStructure::Status;
using Format = ImageStructure::Format;

bool ImageBytes::readExact(std::int64_t offset, void* buffer, std::int64_t length) const
{
    if (offset < 0 || length < 0 || offset > size() || length > size() - offset)
        return false;
    return readAt(offset, buffer, length) == length;
}

std::int64_t MemoryImageBytes::readAt(std::int64_t offset, void* buffer, std::int64_t length) const
{
    if (offset < 0 || length <= 0 || offset >= bytes_.size())
        return 0;
    const std::int64_t count = std::min<std::int64_t>(length, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.constData() + offset, static_cast<std::size_t>(count));
    return count;
}

std::int64_t FileImageBytes::readAt(std::int64_t offset, void* buffer, std::int64_t length) const
{
    if (offset < 0 || length <= 0 || offset >= size_)
        return 0;
    length = std::min(length, size_ - offset);
    auto* out = static_cast<char*>(buffer);
    std::int64_t total = 0;
    while (total < length) {
        const ssize_t count = ::pread(descriptor_, out + total, static_cast<size_t>(length - total), offset + total);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        total += count;
    }
    return total;
}

namespace {

// ---------------------------------------------------------------- helpers

std::uint32_t be16(const std::uint8_t* p) { return (std::uint32_t(p[0]) << 8) | p[1]; }
std::uint32_t be32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
std::uint64_t be64(const std::uint8_t* p) { return (std::uint64_t(be32(p)) << 32) | be32(p + 4); }
std::uint32_t le16(const std::uint8_t* p) { return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8); }
std::uint32_t le24(const std::uint8_t* p) { return le16(p) | (std::uint32_t(p[2]) << 16); }
std::uint32_t le32(const std::uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }
std::uint64_t le64(const std::uint8_t* p) { return std::uint64_t(le32(p)) | (std::uint64_t(le32(p + 4)) << 32); }

// The worse of two verdicts: invalid over incomplete over complete.
Status worse(Status a, Status b)
{
    return static_cast<int>(a) > static_cast<int>(b) ? a : b;
}

// start + length <= limit, without overflow; all values non-negative.
bool fits(std::uint64_t start, std::uint64_t length, std::uint64_t limit)
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

ImageStructure makeStructure(Format format, const QString& identifier)
{
    ImageStructure structure;
    structure.format = format;
    structure.typeIdentifier = identifier;
    return structure;
}

// ---------------------------------------------------------------- PNG

std::uint32_t crc32(const std::uint8_t* data, std::size_t length)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> values{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            values[n] = c;
        }
        return values;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

bool validPngDepth(std::uint8_t colorType, std::uint8_t depth)
{
    switch (colorType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

bool isChunkTypeByte(std::uint8_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

ImageStructure inspectPng(const ImageBytes& bytes)
{
    ImageStructure s = makeStructure(Format::png, QString::fromUtf16(UniformTypeIdentifier::png));
    const std::int64_t size = bytes.size();
    // Signature (8), IHDR length and type (8), IHDR data (13), CRC (4).
    std::uint8_t header[33];
    if (!bytes.readExact(0, header, sizeof header)) {
        s.status = Status::incomplete;
        return s;
    }
    if (be32(header + 8) != 13 || std::memcmp(header + 12, "IHDR", 4) != 0
        || crc32(header + 12, 17) != be32(header + 29)) {
        s.status = Status::invalid;
        return s;
    }
    const std::uint32_t width = be32(header + 16);
    const std::uint32_t height = be32(header + 20);
    const std::uint8_t depth = header[24];
    const std::uint8_t colorType = header[25];
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu || !validPngDepth(colorType, depth)
        || header[26] != 0 || header[27] != 0 || header[28] > 1) {
        s.status = Status::invalid;
        return s;
    }

    Status status = Status::incomplete;
    bool sawData = false;
    // Through a cursor: a file of many tiny chunks is read in blocks, not
    // with one system call per chunk.
    ByteCursor cursor(bytes, sizeof header);
    for (;;) {
        const std::int64_t position = cursor.position();
        std::uint8_t chunk[8];
        if (!cursor.read(chunk, sizeof chunk))
            break; // incomplete
        const std::uint32_t length = be32(chunk);
        if (length > 0x7FFFFFFFu || !std::all_of(chunk + 4, chunk + 8, isChunkTypeByte)) {
            status = Status::invalid;
            break;
        }
        if (!fits(std::uint64_t(position), std::uint64_t(length) + 12, std::uint64_t(size)))
            break; // incomplete
        if (std::memcmp(chunk + 4, "IHDR", 4) == 0) {
            status = Status::invalid;
            break;
        }
        if (std::memcmp(chunk + 4, "IDAT", 4) == 0)
            sawData = true;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) {
            status = sawData ? Status::complete : Status::invalid;
            break;
        }
        cursor.skip(std::int64_t(length) + 4);
    }
    s.status = status;
    // libpng's default limit on either side, which Qt's reader keeps.
    constexpr std::uint32_t kMaxSide = 1000000;
    s.images.push_back({status, width, height, width <= kMaxSide && height <= kMaxSide});
    return s;
}

// ---------------------------------------------------------------- JPEG

struct JpegHeader {
    bool sawFrame = false;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t firstScanData = -1; // where the first scan's entropy-coded data starts
};

bool isFrameMarker(std::uint8_t code)
{
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Baseline, extended and progressive, with Huffman or arithmetic coding: the
// processes libjpeg-turbo decodes. Lossless and hierarchical frames are not.
bool isDecodableFrame(std::uint8_t code)
{
    return code == 0xC0 || code == 0xC1 || code == 0xC2 || code == 0xC9 || code == 0xCA;
}

// Walks markers from the cursor. With stopAtScan it returns complete on
// reaching the first scan's data; otherwise complete on reaching EOI.
// Bytes that are not a marker are passed over as libjpeg does (stray bytes
// between segments, entropy-coded data, stuffed FF 00 and restart markers).
Status walkJpeg(ByteCursor& cursor, JpegHeader& header, bool stopAtScan)
{
    for (;;) {
        if (!cursor.find(0xFF))
            return Status::incomplete;
        std::uint8_t code = 0xFF;
        while (code == 0xFF) {
            if (!cursor.readByte(code))
                return Status::incomplete;
        }
        if (code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD7))
            continue;
        if (code == 0xD9)
            return header.firstScanData >= 0 ? Status::complete : Status::invalid;
        if (code == 0xD8)
            return Status::invalid;
        std::uint8_t lengthBytes[2];
        if (!cursor.read(lengthBytes, 2))
            return Status::incomplete;
        const std::int64_t length = be16(lengthBytes);
        if (length < 2)
            return Status::invalid;
        std::int64_t payload = length - 2;
        if (isFrameMarker(code) && !header.sawFrame) {
            if (!isDecodableFrame(code) || payload < 6)
                return Status::invalid;
            std::uint8_t frame[6];
            if (!cursor.read(frame, sizeof frame))
                return Status::incomplete;
            header.sawFrame = true;
            header.height = be16(frame + 1);
            header.width = be16(frame + 3);
            payload -= 6;
        }
        if (!cursor.skip(payload))
            return Status::incomplete;
        if (code == 0xDA) {
            if (!header.sawFrame)
                return Status::invalid;
            if (header.firstScanData < 0)
                header.firstScanData = cursor.position();
            if (stopAtScan)
                return Status::complete;
        }
    }
}

// True when the data ends with EOI after the first scan, allowing trailing
// 00 / FF padding of up to 1 MiB.
bool endsWithEoi(const ImageBytes& bytes, std::int64_t notBefore)
{
    constexpr std::int64_t kMaxPadding = 1024 * 1024;
    constexpr std::int64_t kBlock = 4096;
    std::uint8_t block[kBlock + 1];
    std::int64_t end = bytes.size();
    const std::int64_t floor = std::max<std::int64_t>(notBefore, bytes.size() - kMaxPadding - 2);
    while (end > floor) {
        const std::int64_t start = std::max(floor, end - kBlock);
        // One byte more on the left, for the FF before D9.
        const std::int64_t readStart = std::max<std::int64_t>(start - 1, 0);
        const std::int64_t count = end - readStart;
        if (!bytes.readExact(readStart, block, count))
            return false;
        for (std::int64_t i = end - 1; i >= start; --i) {
            const std::uint8_t value = block[i - readStart];
            if (value == 0x00 || value == 0xFF)
                continue;
            return value == 0xD9 && i - 1 >= notBefore && i - 1 >= readStart && block[i - 1 - readStart] == 0xFF;
        }
        end = start;
    }
    return false;
}

ImageStructure inspectJpeg(const ImageBytes& bytes)
{
    ImageStructure s = makeStructure(Format::jpeg, QString::fromUtf16(UniformTypeIdentifier::jpeg));
    JpegHeader header;
    ByteCursor cursor(bytes, 2);
    Status status = walkJpeg(cursor, header, true);
    if (status == Status::complete && (header.width == 0 || header.height == 0))
        status = Status::invalid; // a height of 0 defers it to a DNL marker, which libjpeg refuses
    if (status == Status::complete && !endsWithEoi(bytes, header.firstScanData)) {
        // Data after the image, or a cut: only a walk of the scans tells.
        ByteCursor rest(bytes, header.firstScanData);
        status = walkJpeg(rest, header, false);
    }
    s.status = status;
    // libjpeg's JPEG_MAX_DIMENSION.
    constexpr std::int64_t kMaxSide = 65500;
    if (header.sawFrame)
        s.images.push_back({status, header.width, header.height, header.width <= kMaxSide && header.height <= kMaxSide});
    return s;
}

// ---------------------------------------------------------------- GIF

// Skips data sub-blocks up to and including the terminator.
bool skipSubBlocks(ByteCursor& cursor)
{
    for (;;) {
        std::uint8_t length = 0;
        if (!cursor.readByte(length))
            return false;
        if (length == 0)
            return true;
        if (!cursor.skip(length))
            return false;
    }
}

ImageStructure inspectGif(const ImageBytes& bytes)
{
    ImageStructure s = makeStructure(Format::gif, QString::fromUtf16(UniformTypeIdentifier::gif));
    std::uint8_t screen[13];
    if (!bytes.readExact(0, screen, sizeof screen)) {
        s.status = Status::incomplete;
        return s;
    }
    std::int64_t width = le16(screen + 6);
    std::int64_t height = le16(screen + 8);
    const std::uint8_t flags = screen[10];
    ByteCursor cursor(bytes, sizeof screen);
    Status status = Status::incomplete;
    if (!(flags & 0x80) || cursor.skip(3 * (std::int64_t(1) << ((flags & 7) + 1)))) {
        for (;;) {
            std::uint8_t introducer = 0;
            if (!cursor.readByte(introducer))
                break;
            if (introducer == 0x3B) {
                status = s.images.empty() ? Status::invalid : Status::complete;
                break;
            }
            if (introducer == 0x21) {
                std::uint8_t label = 0;
                if (!cursor.readByte(label) || !skipSubBlocks(cursor))
                    break;
                continue;
            }
            if (introducer != 0x2C) {
                status = Status::invalid;
                break;
            }
            std::uint8_t descriptor[9];
            if (!cursor.read(descriptor, sizeof descriptor))
                break;
            if (s.images.empty() && (width == 0 || height == 0)) {
                // No logical screen: the first frame's extent is the canvas.
                width = std::int64_t(le16(descriptor)) + le16(descriptor + 4);
                height = std::int64_t(le16(descriptor + 2)) + le16(descriptor + 6);
            }
            s.images.push_back({Status::incomplete, 0, 0});
            std::uint8_t codeSize = 0;
            if ((descriptor[8] & 0x80) && !cursor.skip(3 * (std::int64_t(1) << ((descriptor[8] & 7) + 1))))
                break;
            if (!cursor.readByte(codeSize))
                break;
            if (codeSize < 1 || codeSize > 11) {
                s.images.back().status = Status::invalid;
                status = Status::invalid;
                break;
            }
            if (!skipSubBlocks(cursor))
                break;
            s.images.back().status = Status::complete;
        }
    }
    for (ImageStructure::Image& image : s.images) {
        image.width = width;
        image.height = height;
    }
    s.status = status;
    return s;
}

// ---------------------------------------------------------------- BMP

bool isKnownBmpHeaderSize(std::uint32_t size)
{
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 || size == 124;
}

ImageStructure inspectBmp(const ImageBytes& bytes)
{
    ImageStructure s = makeStructure(Format::bmp, QString::fromUtf16(UniformTypeIdentifier::bmp));
    std::uint8_t header[54] = {};
    const std::uint32_t infoSize = [&] {
        std::uint8_t sizeField[4];
        return bytes.readExact(14, sizeField, 4) ? le32(sizeField) : 0u;
    }();
    const std::int64_t needed = infoSize == 12 ? 26 : 54;
    if (!bytes.readExact(0, header, needed)) {
        s.status = Status::incomplete;
        return s;
    }
    const std::uint32_t pixelOffset = le32(header + 10);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t planes = 0;
    std::uint32_t depth = 0;
    std::uint32_t compression = 0;
    std::uint32_t imageSize = 0;
    if (infoSize == 12) {
        width = le16(header + 18);
        height = le16(header + 20);
        planes = le16(header + 22);
        depth = le16(header + 24);
    } else {
        width = static_cast<std::int32_t>(le32(header + 18));
        height = static_cast<std::int32_t>(le32(header + 22));
        planes = le16(header + 26);
        depth = le16(header + 28);
        compression = le32(header + 30);
        imageSize = le32(header + 34);
    }
    const bool topDown = height < 0;
    height = height < 0 ? -height : height;

    const bool depthOk = depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
    // Uncompressed, RLE8, RLE4 and bit fields: what Qt's reader takes.
    const bool compressionOk = compression == 0 || (compression == 1 && depth == 8) || (compression == 2 && depth == 4)
        || (compression == 3 && (depth == 16 || depth == 32));
    // The 52- and 56-byte headers (bit fields with and without alpha) are
    // BMPs all the same, but Qt's reader does not take them.
    const bool headerOk = infoSize != 52 && infoSize != 56;
    if (!headerOk || width <= 0 || height == 0 || planes != 1 || !depthOk || !compressionOk
        || (topDown && (compression == 1 || compression == 2)) || pixelOffset < 14 + infoSize) {
        s.status = Status::invalid;
        return s;
    }

    std::uint64_t pixelBytes = 0;
    Status status = Status::complete;
    if (compression == 1 || compression == 2) {
        // RLE data has no size of its own but the one the header states.
        if (imageSize == 0) {
            s.status = Status::invalid;
            return s;
        }
        pixelBytes = imageSize;
    } else {
        const std::uint64_t stride = ((std::uint64_t(width) * depth + 31) / 32) * 4;
        if (__builtin_mul_overflow(stride, std::uint64_t(height), &pixelBytes))
            status = Status::incomplete; // more than any data could hold
    }
    if (status == Status::complete && !fits(pixelOffset, pixelBytes, std::uint64_t(bytes.size())))
        status = Status::incomplete;
    s.status = status;
    s.images.push_back({status, width, height});
    return s;
}

// ---------------------------------------------------------------- WebP

ImageStructure inspectWebp(const ImageBytes& bytes)
{
    ImageStructure s = makeStructure(Format::webp, QString::fromUtf16(UniformTypeIdentifier::webp));
    std::uint8_t riff[12];
    if (!bytes.readExact(0, riff, sizeof riff)) {
        s.status = Status::incomplete;
        return s;
    }
    const std::uint32_t riffSize = le32(riff + 4);
    if (riffSize < 4) {
        s.status = Status::invalid;
        return s;
    }
    const std::int64_t riffEnd = 8 + std::int64_t(riffSize);
    const std::int64_t size = bytes.size();
    Status status = riffEnd > size ? Status::incomplete : Status::complete;

    bool first = true;
    bool extended = false;
    bool animated = false;
    bool sawImageData = false;
    std::int64_t width = 0;
    std::int64_t height = 0;
    int frames = 0;
    bool lastFrameCut = false;
    std::int64_t position = 12;
    while (position < riffEnd) {
        std::uint8_t chunk[8];
        if (!bytes.readExact(position, chunk, sizeof chunk)) {
            status = worse(status, riffEnd - position < 8 && riffEnd <= size ? Status::invalid : Status::incomplete);
            break;
        }
        const std::int64_t payloadStart = position + 8;
        const std::int64_t payloadEnd = payloadStart + le32(chunk + 4);
        if (payloadEnd > riffEnd) {
            status = Status::invalid; // a chunk reaching past the RIFF data
            break;
        }
        const bool whole = payloadEnd <= size;
        const auto is = [&](const char* fourcc) { return std::memcmp(chunk, fourcc, 4) == 0; };
        if (first) {
            first = false;
            std::uint8_t head[10] = {};
            const std::int64_t available = std::min<std::int64_t>(payloadEnd - payloadStart, sizeof head);
            if (!bytes.readExact(payloadStart, head, available)) {
                status = worse(status, Status::incomplete);
                break;
            }
            if (is("VP8 ")) {
                // Frame tag (3 bytes, key frame bit clear), start code, 14-bit sizes.
                if (available < 10 || (head[0] & 1) || head[3] != 0x9D || head[4] != 0x01 || head[5] != 0x2A) {
                    status = Status::invalid;
                    break;
                }
                width = le16(head + 6) & 0x3FFF;
                height = le16(head + 8) & 0x3FFF;
                sawImageData = true;
            } else if (is("VP8L")) {
                if (available < 5 || head[0] != 0x2F) {
                    status = Status::invalid;
                    break;
                }
                const std::uint32_t bits = le32(head + 1);
                width = (bits & 0x3FFF) + 1;
                height = ((bits >> 14) & 0x3FFF) + 1;
                sawImageData = true;
            } else if (is("VP8X")) {
                if (available < 10) {
                    status = Status::invalid;
                    break;
                }
                extended = true;
                animated = (head[0] & 0x02) != 0;
                width = std::int64_t(le24(head + 4)) + 1;
                height = std::int64_t(le24(head + 7)) + 1;
            } else {
                status = Status::invalid;
                break;
            }
        } else if (is("ANMF")) {
            ++frames;
            lastFrameCut = !whole;
        } else if (is("VP8 ") || is("VP8L")) {
            sawImageData = true;
        }
        if (!whole) {
            status = worse(status, Status::incomplete);
            break;
        }
        // Chunks are padded to an even size; a missing pad at the very end is tolerated.
        position = payloadEnd + (payloadEnd & 1);
    }
    if (status == Status::complete && (first || (extended && (animated ? frames == 0 : !sawImageData))))
        status = Status::invalid;
    s.status = status;
    // A VP8 or VP8L bitstream holds at most 16,384 pixels a side, and libwebp
    // refuses a larger canvas.
    constexpr std::int64_t kMaxSide = 16384;
    const bool decodable = width <= kMaxSide && height <= kMaxSide;
    if (width > 0 && height > 0) {
        if (animated) {
            for (int i = 0; i < frames; ++i) {
                const Status frameStatus = status == Status::invalid ? Status::invalid
                    : (i == frames - 1 && lastFrameCut)              ? Status::incomplete
                                                                     : Status::complete;
                s.images.push_back({frameStatus, width, height, decodable});
            }
        } else {
            s.images.push_back({status, width, height, decodable});
        }
    }
    return s;
}

// ---------------------------------------------------------------- TIFF

class TiffReader {
public:
    TiffReader(const ImageBytes& bytes, bool littleEndian, bool big)
        : bytes_(bytes), little_(littleEndian), big_(big)
    {
    }

    bool big() const { return big_; }
    std::uint64_t u16(const std::uint8_t* p) const { return little_ ? le16(p) : be16(p); }
    std::uint64_t u32(const std::uint8_t* p) const { return little_ ? le32(p) : be32(p); }
    std::uint64_t u64(const std::uint8_t* p) const { return little_ ? le64(p) : be64(p); }
    std::uint64_t offsetValue(const std::uint8_t* p) const { return big_ ? u64(p) : u32(p); }
    int entrySize() const { return big_ ? 20 : 12; }
    int inlineSize() const { return big_ ? 8 : 4; }
    const ImageBytes& bytes() const { return bytes_; }

    static int typeSize(std::uint64_t type)
    {
        switch (type) {
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 9: case 11: case 13: return 4;
        case 5: case 10: case 12: case 16: case 17: case 18: return 8;
        default: return 0;
        }
    }

    // One integer value of an entry of type SHORT, LONG or LONG8.
    std::uint64_t integer(std::uint64_t type, const std::uint8_t* p) const
    {
        switch (type) {
        case 3: return u16(p);
        case 4: case 13: return u32(p);
        case 16: case 18: return u64(p);
        default: return 0;
        }
    }

private:
    const ImageBytes& bytes_;
    bool little_;
    bool big_;
};

struct TiffEntry {
    std::uint64_t type = 0;
    std::uint64_t count = 0;
    std::uint8_t value[8] = {};
    bool present = false;
};

bool isIntegerType(std::uint64_t type)
{
    return type == 3 || type == 4 || type == 13 || type == 16 || type == 18;
}

// Reads the integers [first, first + n) of an entry, inline or out of line.
// incomplete when an out-of-line array does not lie within the data, invalid
// when the entry is not an integer array.
Status readIntegers(const TiffReader& reader, const TiffEntry& entry, std::uint64_t first, std::uint64_t n,
    std::vector<std::uint64_t>& values)
{
    values.clear();
    if (!isIntegerType(entry.type) || first > entry.count || n > entry.count - first)
        return Status::invalid;
    const int size = TiffReader::typeSize(entry.type);
    std::uint64_t total = 0;
    if (__builtin_mul_overflow(entry.count, std::uint64_t(size), &total))
        return Status::invalid;
    values.reserve(n);
    if (total <= std::uint64_t(reader.inlineSize())) {
        for (std::uint64_t i = first; i < first + n; ++i)
            values.push_back(reader.integer(entry.type, entry.value + i * size));
        return Status::complete;
    }
    const std::uint64_t offset = reader.offsetValue(entry.value);
    if (!fits(offset, total, std::uint64_t(reader.bytes().size())))
        return Status::incomplete;
    std::vector<std::uint8_t> raw(n * size);
    if (!reader.bytes().readExact(std::int64_t(offset + first * size), raw.data(), std::int64_t(raw.size())))
        return Status::incomplete;
    for (std::uint64_t i = 0; i < n; ++i)
        values.push_back(reader.integer(entry.type, raw.data() + i * size));
    return Status::complete;
}

// Checks that every strip (or tile) of an IFD lies within the data, reading
// the offset and byte-count arrays in blocks so that memory stays small
// whatever count the header claims.
Status checkTiffData(const TiffReader& reader, const TiffEntry& offsets, const TiffEntry& counts)
{
    const std::uint64_t size = std::uint64_t(reader.bytes().size());
    if (!offsets.present || offsets.count == 0)
        return Status::invalid;
    // Old writers leave out the byte counts of uncompressed strips, and
    // libtiff then estimates them: each strip must at least start inside.
    if (counts.present && counts.count != offsets.count)
        return Status::invalid;
    constexpr std::uint64_t kBlock = 4096;
    std::vector<std::uint64_t> offsetValues;
    std::vector<std::uint64_t> countValues;
    for (std::uint64_t first = 0; first < offsets.count; first += kBlock) {
        const std::uint64_t n = std::min(kBlock, offsets.count - first);
        Status verdict = readIntegers(reader, offsets, first, n, offsetValues);
        if (verdict == Status::complete && counts.present)
            verdict = readIntegers(reader, counts, first, n, countValues);
        if (verdict != Status::complete)
            return verdict;
        for (std::uint64_t i = 0; i < n; ++i) {
            const bool inside = counts.present ? fits(offsetValues[i], countValues[i], size) : offsetValues[i] < size;
            if (!inside)
                return Status::incomplete;
        }
    }
    return Status::complete;
}

ImageStructure inspectTiff(const ImageBytes& bytes, bool littleEndian, bool big)
{
    ImageStructure s = makeStructure(Format::tiff, QString::fromUtf16(UniformTypeIdentifier::tiff));
    const TiffReader reader(bytes, littleEndian, big);
    const std::uint64_t size = std::uint64_t(bytes.size());
    std::uint8_t header[16];
    const int headerSize = big ? 16 : 8;
    if (!bytes.readExact(0, header, headerSize)) {
        s.status = Status::incomplete;
        return s;
    }
    if (big && (reader.u16(header + 4) != 8 || reader.u16(header + 6) != 0)) {
        s.status = Status::invalid;
        return s;
    }
    std::uint64_t ifd = big ? reader.u64(header + 8) : reader.u32(header + 4);

    // Enough for any real multi-page file; a longer chain stops being counted.
    constexpr std::size_t kMaxImages = 4096;
    std::unordered_set<std::uint64_t> visited;
    Status chainStatus = Status::complete;
    while (ifd != 0 && s.images.size() < kMaxImages) {
        if (ifd < std::uint64_t(headerSize) || !visited.insert(ifd).second) {
            // Pointing into the header, or back to an earlier IFD (a loop).
            chainStatus = s.images.empty() ? Status::invalid : chainStatus;
            break;
        }
        std::uint8_t countBytes[8];
        const int countSize = big ? 8 : 2;
        if (!fits(ifd, countSize, size) || !bytes.readExact(std::int64_t(ifd), countBytes, countSize)) {
            chainStatus = Status::incomplete;
            break;
        }
        const std::uint64_t entryCount = big ? reader.u64(countBytes) : reader.u16(countBytes);
        if (entryCount == 0 || entryCount > 65535) {
            chainStatus = s.images.empty() ? Status::invalid : chainStatus;
            break;
        }
        const std::uint64_t tableSize = entryCount * reader.entrySize() + (big ? 8 : 4);
        if (!fits(ifd + countSize, tableSize, size)) {
            chainStatus = Status::incomplete;
            break;
        }
        std::vector<std::uint8_t> table(tableSize);
        if (!bytes.readExact(std::int64_t(ifd + countSize), table.data(), std::int64_t(tableSize))) {
            chainStatus = Status::incomplete;
            break;
        }
        TiffEntry width, length, stripOffsets, stripCounts, tileOffsets, tileCounts;
        // Every value stored outside the IFD belongs to it as well: a file cut
        // through a resolution or a colour map is as incomplete as one cut
        // through a strip. Entries of unknown types are skipped, as by libtiff.
        Status valuesStatus = Status::complete;
        for (std::uint64_t i = 0; i < entryCount; ++i) {
            const std::uint8_t* e = table.data() + i * reader.entrySize();
            const int valueSize = TiffReader::typeSize(reader.u16(e + 2));
            const std::uint64_t valueCount = big ? reader.u64(e + 4) : reader.u32(e + 4);
            std::uint64_t valueBytes = 0;
            if (valueSize > 0) {
                if (__builtin_mul_overflow(valueCount, std::uint64_t(valueSize), &valueBytes))
                    valuesStatus = Status::invalid;
                else if (valueBytes > std::uint64_t(reader.inlineSize())
                    && !fits(reader.offsetValue(e + (big ? 12 : 8)), valueBytes, size))
                    valuesStatus = worse(valuesStatus, Status::incomplete);
            }
            TiffEntry* target = nullptr;
            switch (reader.u16(e)) {
            case 256: target = &width; break;
            case 257: target = &length; break;
            case 273: target = &stripOffsets; break;
            case 279: target = &stripCounts; break;
            case 324: target = &tileOffsets; break;
            case 325: target = &tileCounts; break;
            default: break;
            }
            if (!target)
                continue;
            target->present = true;
            target->type = reader.u16(e + 2);
            target->count = big ? reader.u64(e + 4) : reader.u32(e + 4);
            std::memcpy(target->value, e + (big ? 12 : 8), reader.inlineSize());
        }

        ImageStructure::Image image;
        const auto single = [&](const TiffEntry& entry) -> std::int64_t {
            if (!entry.present || entry.count != 1 || !isIntegerType(entry.type))
                return 0;
            const std::uint64_t value = reader.integer(entry.type, entry.value);
            return value > std::uint64_t(std::numeric_limits<std::int64_t>::max()) ? 0 : std::int64_t(value);
        };
        image.width = single(width);
        image.height = single(length);
        if (image.width <= 0 || image.height <= 0)
            image.status = Status::invalid;
        else if (tileOffsets.present)
            image.status = checkTiffData(reader, tileOffsets, tileCounts);
        else
            image.status = checkTiffData(reader, stripOffsets, stripCounts);
        image.status = worse(image.status, valuesStatus);
        s.images.push_back(image);
        ifd = reader.offsetValue(table.data() + entryCount * reader.entrySize());
    }
    if (s.images.empty())
        s.status = chainStatus == Status::incomplete ? Status::incomplete : Status::invalid;
    else
        s.status = worse(chainStatus, s.images.front().status);
    return s;
}

// ---------------------------------------------------------------- HEIF

bool isHevcBrand(const std::uint8_t* b)
{
    return std::memcmp(b, "heic", 4) == 0 || std::memcmp(b, "heix", 4) == 0 || std::memcmp(b, "heim", 4) == 0
        || std::memcmp(b, "heis", 4) == 0 || std::memcmp(b, "hevc", 4) == 0 || std::memcmp(b, "hevx", 4) == 0
        || std::memcmp(b, "hevm", 4) == 0 || std::memcmp(b, "hevs", 4) == 0;
}
bool isAvifBrand(const std::uint8_t* b)
{
    return std::memcmp(b, "avif", 4) == 0 || std::memcmp(b, "avis", 4) == 0;
}
bool isHeifBrand(const std::uint8_t* b)
{
    return std::memcmp(b, "mif1", 4) == 0 || std::memcmp(b, "msf1", 4) == 0;
}

// The type a file-type box names, from its major brand, else its compatible
// brands; empty when it names no still-image HEIF brand (an MP4 video, say).
QString heifTypeFromBrands(const ImageBytes& bytes)
{
    std::uint8_t box[64] = {};
    const std::int64_t available = std::min<std::int64_t>(bytes.size(), sizeof box);
    if (available < 16 || !bytes.readExact(0, box, available) || std::memcmp(box + 4, "ftyp", 4) != 0)
        return {};
    const std::int64_t boxSize = std::min<std::int64_t>(be32(box), available);
    if (isHevcBrand(box + 8))
        return QString::fromUtf16(UniformTypeIdentifier::heic);
    if (isAvifBrand(box + 8))
        return QString::fromUtf16(UniformTypeIdentifier::avif);
    bool heif = isHeifBrand(box + 8);
    QString result;
    for (std::int64_t p = 16; p + 4 <= boxSize; p += 4) {
        if (isHevcBrand(box + p))
            return QString::fromUtf16(UniformTypeIdentifier::heic);
        if (isAvifBrand(box + p) && result.isEmpty())
            result = QString::fromUtf16(UniformTypeIdentifier::avif);
        heif = heif || isHeifBrand(box + p);
    }
    if (!result.isEmpty())
        return result;
    return heif ? QString::fromUtf16(UniformTypeIdentifier::heif) : QString();
}

struct BoxHeader {
    std::uint32_t type = 0;
    std::int64_t start = 0;
    std::int64_t payload = 0; // where the payload starts
    std::int64_t end = 0;
};

std::uint32_t fourcc(const char* text)
{
    return be32(reinterpret_cast<const std::uint8_t*>(text));
}

// Reads the box header at `position` of a range ending at `limit` (size 0
// means "to the end of the range"). incomplete when the header or the box
// reaches past the data, invalid when it is malformed.
Status readBox(const ImageBytes& bytes, std::int64_t position, std::int64_t limit, BoxHeader& box)
{
    std::uint8_t head[16];
    if (!bytes.readExact(position, head, 8))
        return Status::incomplete;
    std::uint64_t size = be32(head);
    box.type = be32(head + 4);
    box.start = position;
    box.payload = position + 8;
    if (size == 1) {
        if (!bytes.readExact(position + 8, head + 8, 8))
            return Status::incomplete;
        size = be64(head + 8);
        box.payload = position + 16;
    } else if (size == 0) {
        size = std::uint64_t(limit - position);
    }
    if (size < std::uint64_t(box.payload - position))
        return Status::invalid;
    if (!fits(std::uint64_t(position), size, std::uint64_t(limit)))
        return Status::incomplete;
    box.end = position + std::int64_t(size);
    return Status::complete;
}

// Every extent of the item location box must lie within the data (file
// offsets) or within the idat box (construction method 1). Items in other
// files or built from other items (method 2) have nothing to check here.
Status checkItemLocations(const std::uint8_t* p, std::size_t n, std::uint64_t fileSize, std::uint64_t idatSize)
{
    std::size_t at = 0;
    bool overrun = false;
    const auto take = [&](int bytes) -> std::uint64_t {
        if (bytes == 0)
            return 0;
        if (at + std::size_t(bytes) > n) {
            overrun = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | p[at + i];
        at += bytes;
        return value;
    };
    const int version = int(take(1));
    take(3); // flags
    const std::uint64_t sizes = take(1);
    const int offsetSize = int(sizes >> 4), lengthSize = int(sizes & 15);
    const std::uint64_t sizes2 = take(1);
    const int baseOffsetSize = int(sizes2 >> 4);
    const int indexSize = (version == 1 || version == 2) ? int(sizes2 & 15) : 0;
    const auto sizeOk = [](int size) { return size == 0 || size == 4 || size == 8; };
    if (overrun || version > 2 || !sizeOk(offsetSize) || !sizeOk(lengthSize) || !sizeOk(baseOffsetSize) || !sizeOk(indexSize))
        return Status::invalid;
    const std::uint64_t itemCount = take(version < 2 ? 2 : 4);
    Status status = Status::complete;
    for (std::uint64_t item = 0; item < itemCount && !overrun; ++item) {
        take(version < 2 ? 2 : 4); // item id
        const int method = (version == 1 || version == 2) ? int(take(2) & 15) : 0;
        const std::uint64_t dataReference = take(2);
        const std::uint64_t base = take(baseOffsetSize);
        const std::uint64_t extents = take(2);
        for (std::uint64_t e = 0; e < extents && !overrun; ++e) {
            take(indexSize);
            const std::uint64_t offset = take(offsetSize);
            const std::uint64_t length = take(lengthSize);
            if (overrun)
                break;
            std::uint64_t start = 0;
            if (__builtin_add_overflow(base, offset, &start))
                return Status::invalid;
            if (method == 0 && dataReference == 0) {
                // A length of 0 means "to the end of the file".
                if (length == 0 ? start > fileSize : !fits(start, length, fileSize))
                    status = Status::incomplete;
            } else if (method == 1) {
                if (length == 0 ? start > idatSize : !fits(start, length, idatSize))
                    return Status::invalid; // the idat box is whole, so this is damage, not a cut
            }
        }
    }
    return overrun ? Status::invalid : status;
}

ImageStructure inspectHeif(const ImageBytes& bytes, const QString& identifier)
{
    ImageStructure s = makeStructure(Format::heif, identifier);
    const std::int64_t size = bytes.size();

    // Top-level boxes.
    Status status = Status::complete;
    BoxHeader meta;
    bool sawMeta = false;
    for (std::int64_t position = 0; position < size;) {
        BoxHeader box;
        const Status verdict = readBox(bytes, position, size, box);
        if (verdict != Status::complete) {
            status = verdict;
            break;
        }
        if (box.type == fourcc("meta") && !sawMeta) {
            meta = box;
            sawMeta = true;
        }
        position = box.end;
    }
    if (!sawMeta) {
        s.status = status == Status::complete ? Status::invalid : status;
        return s;
    }

    // The item locations, inside the meta box (a full box: 4 bytes of version and flags).
    constexpr std::int64_t kMaxMeta = 64 * 1024 * 1024;
    Status locations = Status::invalid;
    if (meta.end - meta.payload > kMaxMeta) {
        s.status = Status::invalid;
        return s;
    }
    std::uint64_t idatSize = 0;
    BoxHeader iloc;
    bool sawIloc = false;
    for (std::int64_t position = meta.payload + 4; position < meta.end;) {
        BoxHeader box;
        if (readBox(bytes, position, meta.end, box) != Status::complete)
            break;
        if (box.type == fourcc("iloc") && !sawIloc) {
            iloc = box;
            sawIloc = true;
        } else if (box.type == fourcc("idat")) {
            idatSize = std::uint64_t(box.end - box.payload);
        }
        position = box.end;
    }
    if (sawIloc) {
        std::vector<std::uint8_t> table(std::size_t(iloc.end - iloc.payload));
        if (bytes.readExact(iloc.payload, table.data(), std::int64_t(table.size())))
            locations = checkItemLocations(table.data(), table.size(), std::uint64_t(size), idatSize);
    }
    status = worse(status, locations);

    // libheif's own parse, for the images and their sizes.
    if (const std::unique_ptr<HeifContainer> container = HeifContainer::read(bytes)) {
        for (std::uint32_t id : container->imageIds()) {
            const std::optional<ImageSource::PixelSize> pixels = container->pixelSize(id);
            if (!pixels)
                continue;
            s.heifItemIds.push_back(id);
            const bool sized = pixels->width > 0 && pixels->height > 0;
            s.images.push_back({sized ? status : Status::invalid, pixels->width, pixels->height});
        }
        if (s.images.empty())
            status = Status::invalid;
    } else {
        status = status == Status::complete ? Status::invalid : status;
    }
    s.status = status;
    return s;
}

} // namespace

// ---------------------------------------------------------------- entry points

std::optional<std::pair<Format, QString>> ImageStructure::detect(const ImageBytes& bytes)
{
    std::uint8_t head[32] = {};
    const std::int64_t available = bytes.readAt(0, head, sizeof head);
    const auto starts = [&](const char* signature, std::int64_t length) {
        return available >= length && std::memcmp(head, signature, std::size_t(length)) == 0;
    };
    if (starts("\x89PNG\r\n\x1a\n", 8))
        return std::pair{Format::png, QString::fromUtf16(UniformTypeIdentifier::png)};
    if (starts("\xFF\xD8\xFF", 3))
        return std::pair{Format::jpeg, QString::fromUtf16(UniformTypeIdentifier::jpeg)};
    if (starts("GIF87a", 6) || starts("GIF89a", 6))
        return std::pair{Format::gif, QString::fromUtf16(UniformTypeIdentifier::gif)};
    // "BM" alone starts too many texts: the info header's size must be a known one.
    if (starts("BM", 2) && available >= 18 && isKnownBmpHeaderSize(le32(head + 14)))
        return std::pair{Format::bmp, QString::fromUtf16(UniformTypeIdentifier::bmp)};
    if (available >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0)
        return std::pair{Format::webp, QString::fromUtf16(UniformTypeIdentifier::webp)};
    if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) || starts("MM\0+", 4))
        return std::pair{Format::tiff, QString::fromUtf16(UniformTypeIdentifier::tiff)};
    if (available >= 16 && std::memcmp(head + 4, "ftyp", 4) == 0) {
        const QString type = heifTypeFromBrands(bytes);
        if (!type.isEmpty())
            return std::pair{Format::heif, type};
    }
    return std::nullopt;
}

std::optional<ImageStructure> ImageStructure::inspect(const ImageBytes& bytes)
{
    const auto detected = detect(bytes);
    if (!detected)
        return std::nullopt;
    switch (detected->first) {
    case Format::png:
        return inspectPng(bytes);
    case Format::jpeg:
        return inspectJpeg(bytes);
    case Format::gif:
        return inspectGif(bytes);
    case Format::bmp:
        return inspectBmp(bytes);
    case Format::webp:
        return inspectWebp(bytes);
    case Format::tiff: {
        std::uint8_t head[4];
        bytes.readExact(0, head, 4);
        return inspectTiff(bytes, head[0] == 'I', head[2] == '+' || head[3] == '+');
    }
    case Format::heif:
        return inspectHeif(bytes, detected->second);
    }
    return std::nullopt;
}

} // namespace tolvex
