#include "TolvexCore/Images/Structure/StructureReading.h"

#include "TolvexCore/Images/UniformType.h"

#include <cstring>
#include <unordered_set>
#include <vector>

namespace tolvex::structure {

namespace {

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

} // namespace

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
        bool duplicated = false;
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
            // A second copy of a tag that decides the size or the data: the
            // decoder reads one of them and this check would read the
            // other, so neither can be trusted.
            if (target->present)
                duplicated = true;
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
        if (image.width <= 0 || image.height <= 0 || duplicated)
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

} // namespace tolvex::structure
