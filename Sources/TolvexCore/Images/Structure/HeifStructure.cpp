#include "TolvexCore/Images/Structure/StructureReading.h"

#include "TolvexCore/Images/HeifContainer.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/UniformType.h"

#include <memory>
#include <optional>
#include <vector>

namespace tolvex::structure {

namespace {

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

// Reads the bits of an HEVC parameter set, skipping the emulation-prevention
// bytes (the 03 of 00 00 03).
class RbspReader {
public:
    RbspReader(const std::uint8_t* p, std::size_t n)
    {
        payload_.reserve(n);
        int zeros = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (zeros >= 2 && p[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = p[i] == 0 ? zeros + 1 : 0;
            payload_.push_back(p[i]);
        }
    }

    bool failed() const { return failed_; }

    std::uint64_t bits(int count)
    {
        std::uint64_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (position_ >= payload_.size() * 8) {
                failed_ = true;
                return 0;
            }
            value = (value << 1) | ((payload_[position_ / 8] >> (7 - position_ % 8)) & 1);
            ++position_;
        }
        return value;
    }

    // Exp-Golomb ue(v); more than 32 leading zeros is damage.
    std::uint64_t unsignedGolomb()
    {
        int zeros = 0;
        while (!failed_ && bits(1) == 0) {
            if (++zeros > 32) {
                failed_ = true;
                return 0;
            }
        }
        return failed_ ? 0 : (std::uint64_t(1) << zeros) - 1 + bits(zeros);
    }

private:
    std::vector<std::uint8_t> payload_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

// The picture size an HEVC sequence parameter set codes: what the decoder
// allocates, whatever the container's "ispe" claims.
std::optional<ImageSource::PixelSize> hevcCodedSize(const std::uint8_t* nal, std::size_t n)
{
    if (n < 3 || ((nal[0] >> 1) & 0x3F) != 33)
        return std::nullopt;
    RbspReader r(nal + 2, n - 2);
    r.bits(4); // sps_video_parameter_set_id
    const int maxSubLayersMinus1 = int(r.bits(3));
    r.bits(1); // temporal id nesting
    r.bits(88); // general profile
    r.bits(8); // general level
    bool profilePresent[8] = {};
    bool levelPresent[8] = {};
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[i] = r.bits(1) != 0;
        levelPresent[i] = r.bits(1) != 0;
    }
    if (maxSubLayersMinus1 > 0) {
        for (int i = maxSubLayersMinus1; i < 8; ++i)
            r.bits(2);
    }
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[i])
            r.bits(88);
        if (levelPresent[i])
            r.bits(8);
    }
    r.unsignedGolomb(); // sps_seq_parameter_set_id
    if (r.unsignedGolomb() == 3) // chroma_format_idc
        r.bits(1);
    const std::uint64_t width = r.unsignedGolomb();
    const std::uint64_t height = r.unsignedGolomb();
    if (r.failed())
        return std::nullopt;
    return ImageSource::PixelSize{std::int64_t(width), std::int64_t(height)};
}

// The largest picture any HEVC configuration ("hvcC") of the item
// properties codes, in pixels; 0 when there is none to read.
std::int64_t largestCodedPicture(const ImageBytes& bytes, const BoxHeader& meta, ImageSource::PixelSize& largest)
{
    std::int64_t most = 0;
    const auto children = [&](const BoxHeader& parent, std::int64_t skip, auto&& visit) {
        for (std::int64_t position = parent.payload + skip; position < parent.end;) {
            BoxHeader box;
            if (readBox(bytes, position, parent.end, box) != Status::complete)
                return;
            visit(box);
            position = box.end;
        }
    };
    constexpr std::int64_t kMaxConfiguration = 64 * 1024;
    children(meta, 4, [&](const BoxHeader& iprp) {
        if (iprp.type != fourcc("iprp"))
            return;
        children(iprp, 0, [&](const BoxHeader& ipco) {
            if (ipco.type != fourcc("ipco"))
                return;
            children(ipco, 0, [&](const BoxHeader& property) {
                if (property.type != fourcc("hvcC") || property.end - property.payload > kMaxConfiguration)
                    return;
                std::vector<std::uint8_t> data(std::size_t(property.end - property.payload));
                if (!bytes.readExact(property.payload, data.data(), std::int64_t(data.size())) || data.size() < 23)
                    return;
                std::size_t at = 23;
                for (int array = 0; array < data[22] && at + 3 <= data.size(); ++array) {
                    const int count = int(be16(data.data() + at + 1));
                    at += 3;
                    for (int i = 0; i < count && at + 2 <= data.size(); ++i) {
                        const std::size_t length = be16(data.data() + at);
                        at += 2;
                        if (at + length > data.size())
                            return;
                        if (const auto size = hevcCodedSize(data.data() + at, length)) {
                            std::int64_t pixels = 0;
                            if (__builtin_mul_overflow(size->width, size->height, &pixels))
                                pixels = std::numeric_limits<std::int64_t>::max();
                            if (pixels > most) {
                                most = pixels;
                                largest = *size;
                            }
                        }
                        at += length;
                    }
                }
            });
        });
    });
    return most;
}

} // namespace

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
        // The decoder allocates the coded picture, not the size "ispe"
        // states: a coded picture beyond the budget is the size admission
        // must see, or a tiny claimed image would decode into gigabytes.
        ImageSource::PixelSize coded;
        if (largestCodedPicture(bytes, meta, coded) > ImageAdmission::pixelBudget) {
            for (ImageStructure::Image& image : s.images) {
                image.width = std::max(image.width, coded.width);
                image.height = std::max(image.height, coded.height);
            }
        }
    } else {
        status = status == Status::complete ? Status::invalid : status;
    }
    s.status = status;
    return s;
}

} // namespace tolvex::structure
