#include "TolvexCore/Images/Structure/StructureReading.h"

#include "TolvexCore/Images/UniformType.h"

namespace tolvex::structure {

namespace {

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

} // namespace

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
            if (s.images.empty()) {
                // The decoder takes each side of the canvas on its own: a
                // zero side of the logical screen becomes the first frame's
                // extent on that side, the other side stays as the screen
                // says (one zero side must not shrink the other).
                if (width == 0)
                    width = std::int64_t(le16(descriptor)) + le16(descriptor + 4);
                if (height == 0)
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

} // namespace tolvex::structure
