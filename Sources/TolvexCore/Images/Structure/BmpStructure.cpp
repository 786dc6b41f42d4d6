#include "TolvexCore/Images/Structure/StructureReading.h"

#include "TolvexCore/Images/UniformType.h"

namespace tolvex::structure {

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

} // namespace tolvex::structure
