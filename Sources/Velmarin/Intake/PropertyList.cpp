#include "Velmarin/Intake/PropertyList.h"

#include <QXmlStreamReader>

#include <bit>
#include <cstdint>
#include <cstring>

namespace tolvex::PropertyList {

namespace {

constexpr qsizetype binaryHeaderBytes = 8;
constexpr qsizetype binaryTrailerBytes = 32;

// Big-endian unsigned integer of 1 to 8 bytes at `offset`, known to be in range.
std::uint64_t bigEndian(const QByteArray& bytes, qsizetype offset, int width)
{
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
    return value;
}

bool validWidth(int width)
{
    return width == 1 || width == 2 || width == 4 || width == 8;
}

struct BinaryLayout {
    const QByteArray& bytes;
    int offsetWidth = 0;
    int referenceWidth = 0;
    std::uint64_t objectCount = 0;
    std::uint64_t tableOffset = 0;
    // Objects lie between the header and the offset table.
    qsizetype objectsEnd = 0;

    // Where object `reference` starts, or -1.
    qsizetype objectOffset(std::uint64_t reference) const
    {
        if (reference >= objectCount)
            return -1;
        const std::uint64_t entry = tableOffset + reference * static_cast<std::uint64_t>(offsetWidth);
        const std::uint64_t offset = bigEndian(bytes, static_cast<qsizetype>(entry), offsetWidth);
        if (offset < static_cast<std::uint64_t>(binaryHeaderBytes) || offset >= static_cast<std::uint64_t>(objectsEnd))
            return -1;
        return static_cast<qsizetype>(offset);
    }

    bool within(qsizetype offset, std::uint64_t length) const
    {
        return offset >= 0 && offset <= objectsEnd && length <= static_cast<std::uint64_t>(objectsEnd - offset);
    }

    // An integer or a real object at `offset`.
    std::optional<double> number(qsizetype offset) const
    {
        const auto marker = static_cast<std::uint8_t>(bytes[offset]);
        const int width = 1 << (marker & 0x0F);
        if ((marker & 0xF0) == 0x10) {
            if (!validWidth(width) || !within(offset + 1, static_cast<std::uint64_t>(width)))
                return std::nullopt;
            const std::uint64_t raw = bigEndian(bytes, offset + 1, width);
            // Integers of 8 bytes are signed; shorter ones are unsigned.
            if (width == 8)
                return static_cast<double>(static_cast<std::int64_t>(raw));
            return static_cast<double>(raw);
        }
        if ((marker & 0xF0) == 0x20) {
            if ((width != 4 && width != 8) || !within(offset + 1, static_cast<std::uint64_t>(width)))
                return std::nullopt;
            const std::uint64_t raw = bigEndian(bytes, offset + 1, width);
            if (width == 4)
                return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(raw)));
            return std::bit_cast<double>(raw);
        }
        return std::nullopt;
    }
};

} // namespace

std::optional<QList<double>> binaryNumberArray(const QByteArray& bytes)
{
    if (bytes.size() < binaryHeaderBytes + 1 + binaryTrailerBytes || !bytes.startsWith("bplist00"))
        return std::nullopt;
    const qsizetype trailer = bytes.size() - binaryTrailerBytes;
    BinaryLayout layout{bytes};
    layout.offsetWidth = static_cast<std::uint8_t>(bytes[trailer + 6]);
    layout.referenceWidth = static_cast<std::uint8_t>(bytes[trailer + 7]);
    layout.objectCount = bigEndian(bytes, trailer + 8, 8);
    const std::uint64_t topObject = bigEndian(bytes, trailer + 16, 8);
    layout.tableOffset = bigEndian(bytes, trailer + 24, 8);
    if (!validWidth(layout.offsetWidth) || !validWidth(layout.referenceWidth) || layout.objectCount == 0)
        return std::nullopt;
    // The offset table must sit whole between the objects and the trailer.
    const auto tableLimit = static_cast<std::uint64_t>(trailer);
    if (layout.tableOffset < static_cast<std::uint64_t>(binaryHeaderBytes + 1) || layout.tableOffset > tableLimit
        || layout.objectCount > (tableLimit - layout.tableOffset) / static_cast<std::uint64_t>(layout.offsetWidth))
        return std::nullopt;
    layout.objectsEnd = static_cast<qsizetype>(layout.tableOffset);

    const qsizetype top = layout.objectOffset(topObject);
    if (top < 0)
        return std::nullopt;
    const auto marker = static_cast<std::uint8_t>(bytes[top]);
    if ((marker & 0xF0) != 0xA0)
        return std::nullopt;
    std::uint64_t count = marker & 0x0F;
    qsizetype references = top + 1;
    if (count == 0x0F) {
        // A longer count follows as an integer object.
        if (!layout.within(references, 1))
            return std::nullopt;
        const auto countMarker = static_cast<std::uint8_t>(bytes[references]);
        const int width = 1 << (countMarker & 0x0F);
        if ((countMarker & 0xF0) != 0x10 || !validWidth(width) || !layout.within(references + 1, width))
            return std::nullopt;
        count = bigEndian(bytes, references + 1, width);
        references += 1 + width;
    }
    const auto referenceWidth = static_cast<std::uint64_t>(layout.referenceWidth);
    if (count > static_cast<std::uint64_t>(layout.objectsEnd) / referenceWidth
        || !layout.within(references, count * referenceWidth))
        return std::nullopt;

    QList<double> numbers;
    numbers.reserve(static_cast<qsizetype>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t reference
            = bigEndian(bytes, references + static_cast<qsizetype>(i * referenceWidth), layout.referenceWidth);
        const qsizetype offset = layout.objectOffset(reference);
        if (offset < 0)
            return std::nullopt;
        const std::optional<double> number = layout.number(offset);
        if (!number)
            return std::nullopt;
        numbers.append(*number);
    }
    return numbers;
}

namespace {

std::optional<double> xmlNumber(const QString& element, const QString& text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = 0;
    if (element == QLatin1String("integer")) {
        const qlonglong integer = trimmed.toLongLong(&ok, 10);
        value = static_cast<double>(integer);
    } else {
        value = trimmed.toDouble(&ok);
    }
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<QList<double>> xmlNumberArray(const QByteArray& bytes)
{
    QXmlStreamReader reader(bytes);
    // Only the document's own structure is read; entities stay unexpanded
    // text that fails the number parse.
    reader.setNamespaceProcessing(false);
    enum class Place { outside, plist, array, number, afterArray, afterPlist };
    Place place = Place::outside;
    QList<double> numbers;
    QString element;
    QString text;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartDocument:
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
            break;
        case QXmlStreamReader::StartElement: {
            const QString name = reader.name().toString();
            if (place == Place::outside && name == QLatin1String("plist"))
                place = Place::plist;
            else if (place == Place::plist && name == QLatin1String("array"))
                place = Place::array;
            else if (place == Place::array && (name == QLatin1String("integer") || name == QLatin1String("real"))) {
                place = Place::number;
                element = name;
                text.clear();
            } else
                return std::nullopt;
            break;
        }
        case QXmlStreamReader::Characters:
            if (place == Place::number)
                text += reader.text();
            else if (!reader.isWhitespace())
                return std::nullopt;
            break;
        case QXmlStreamReader::EntityReference:
            return std::nullopt;
        case QXmlStreamReader::EndElement:
            if (place == Place::number) {
                const std::optional<double> number = xmlNumber(element, text);
                if (!number)
                    return std::nullopt;
                numbers.append(*number);
                place = Place::array;
            } else if (place == Place::array) {
                place = Place::afterArray;
            } else if (place == Place::afterArray) {
                place = Place::afterPlist;
            } else {
                return std::nullopt;
            }
            break;
        case QXmlStreamReader::EndDocument:
            break;
        case QXmlStreamReader::Invalid:
        case QXmlStreamReader::NoToken:
            return std::nullopt;
        }
    }
    if (reader.hasError() || place != Place::afterPlist)
        return std::nullopt;
    return numbers;
}

std::optional<QList<double>> numberArray(const QByteArray& bytes)
{
    if (bytes.startsWith("bplist"))
        return binaryNumberArray(bytes);
    // XML may open with a byte-order mark or white space before its declaration.
    qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < bytes.size() && (bytes[start] == ' ' || bytes[start] == '\n' || bytes[start] == '\r' || bytes[start] == '\t'))
        ++start;
    if (bytes.mid(start, 1) == "<")
        return xmlNumberArray(bytes);
    return std::nullopt;
}

} // namespace tolvex::PropertyList
