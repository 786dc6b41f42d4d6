#include "TolvexCore/Images/Structure/StructureReading.h"

#include "TolvexCore/Images/UniformType.h"

#include <cstring>

namespace tolvex::structure {

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

} // namespace tolvex::structure
