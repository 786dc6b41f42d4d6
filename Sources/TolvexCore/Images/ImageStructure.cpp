#include "TolvexCore/Images/ImageStructure.h"

#include "TolvexCore/Images/Structure/StructureReading.h"
#include "TolvexCore/Images/UniformType.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

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

using namespace structure;


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
