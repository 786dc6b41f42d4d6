#include "TolvexCore/Images/Structure/StructureReading.h"

#include "TolvexCore/Images/UniformType.h"

#include <cstring>

namespace tolvex::structure {

namespace {

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

} // namespace

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

} // namespace tolvex::structure
