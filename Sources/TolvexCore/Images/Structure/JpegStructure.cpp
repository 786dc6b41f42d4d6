#include "TolvexCore/Images/Structure/StructureReading.h"

#include "TolvexCore/Images/UniformType.h"

#include <cstring>

namespace tolvex::structure {

namespace {

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

} // namespace

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

} // namespace tolvex::structure
