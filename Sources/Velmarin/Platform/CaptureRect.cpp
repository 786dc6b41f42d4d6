#include "Velmarin/Platform/CaptureRect.h"

#include "Velmarin/Common/ScreenCoordinates.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QXmlStreamReader>

#include <sys/xattr.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace tolvex {

namespace {

using Numbers = std::array<double, 4>;

std::optional<Numbers> fromList(const std::vector<double>& values)
{
    if (values.size() != 4)
        return std::nullopt;
    return Numbers{values[0], values[1], values[2], values[3]};
}

std::optional<Numbers> parseXml(const QByteArray& bytes)
{
    QXmlStreamReader xml(bytes);
    std::vector<double> values;
    int depth = 0;
    bool sawArray = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("plist"))
                continue;
            if (name == QLatin1String("array")) {
                if (sawArray || depth != 0)
                    return std::nullopt;
                sawArray = true;
                ++depth;
                continue;
            }
            if (depth != 1 || (name != QLatin1String("real") && name != QLatin1String("integer")))
                return std::nullopt;
            bool ok = false;
            const double value = xml.readElementText().trimmed().toDouble(&ok);
            if (!ok)
                return std::nullopt;
            values.push_back(value);
        } else if (xml.isEndElement() && xml.name() == QLatin1String("array")) {
            --depth;
        }
    }
    if (xml.hasError() || !sawArray)
        return std::nullopt;
    return fromList(values);
}

// The binary form: a trailer names the top object; only an array of
// integers and reals is taken.
std::optional<Numbers> parseBinary(const QByteArray& bytes)
{
    const auto size = static_cast<quint64>(bytes.size());
    if (size < 8 + 32)
        return std::nullopt;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    auto readUInt = [&](quint64 offset, unsigned width) -> std::optional<quint64> {
        if (width == 0 || width > 8 || offset + width > size)
            return std::nullopt;
        quint64 value = 0;
        for (unsigned i = 0; i < width; ++i)
            value = (value << 8) | data[offset + i];
        return value;
    };
    const unsigned char* trailer = data + size - 32;
    const unsigned offsetSize = trailer[6];
    const unsigned refSize = trailer[7];
    const auto count = readUInt(size - 24, 8);
    const auto top = readUInt(size - 16, 8);
    const auto table = readUInt(size - 8, 8);
    if (!count || !top || !table || *top >= *count || *count > 64)
        return std::nullopt;
    auto objectOffset = [&](quint64 index) -> std::optional<quint64> {
        if (index >= *count)
            return std::nullopt;
        return readUInt(*table + index * offsetSize, offsetSize);
    };
    auto number = [&](quint64 index) -> std::optional<double> {
        const auto at = objectOffset(index);
        if (!at || *at >= size)
            return std::nullopt;
        const unsigned char marker = data[*at];
        const unsigned width = 1u << (marker & 0x0F);
        if ((marker & 0xF0) == 0x10) {
            const auto raw = readUInt(*at + 1, width);
            if (!raw)
                return std::nullopt;
            return width == 8 ? static_cast<double>(static_cast<qint64>(*raw)) : static_cast<double>(*raw);
        }
        if ((marker & 0xF0) == 0x20 && (width == 4 || width == 8)) {
            const auto raw = readUInt(*at + 1, width);
            if (!raw)
                return std::nullopt;
            if (width == 4) {
                const auto bits = static_cast<quint32>(*raw);
                float value;
                std::memcpy(&value, &bits, sizeof value);
                return value;
            }
            double value;
            std::memcpy(&value, &*raw, sizeof value);
            return value;
        }
        return std::nullopt;
    };
    const auto at = objectOffset(*top);
    if (!at || *at >= size || (data[*at] & 0xF0) != 0xA0)
        return std::nullopt;
    quint64 length = data[*at] & 0x0F;
    quint64 refs = *at + 1;
    if (length == 0x0F) {
        if (refs >= size || (data[refs] & 0xF0) != 0x10)
            return std::nullopt;
        const unsigned width = 1u << (data[refs] & 0x0F);
        const auto n = readUInt(refs + 1, width);
        if (!n)
            return std::nullopt;
        length = *n;
        refs += 1 + width;
    }
    if (length != 4)
        return std::nullopt;
    std::vector<double> values;
    for (quint64 i = 0; i < length; ++i) {
        const auto ref = readUInt(refs + i * refSize, refSize);
        if (!ref)
            return std::nullopt;
        const auto value = number(*ref);
        if (!value)
            return std::nullopt;
        values.push_back(*value);
    }
    return fromList(values);
}

// The old text form: "(0, 0, 100, 50)".
std::optional<Numbers> parseText(const QByteArray& bytes)
{
    const QString text = QString::fromUtf8(bytes).trimmed();
    if (!text.startsWith(u'(') || !text.endsWith(u')'))
        return std::nullopt;
    std::vector<double> values;
    for (const QString& part : text.mid(1, text.size() - 2).split(u',')) {
        bool ok = false;
        const double value = part.trimmed().remove(u'"').toDouble(&ok);
        if (!ok)
            return std::nullopt;
        values.push_back(value);
    }
    return fromList(values);
}

} // namespace

std::optional<Numbers> CaptureRect::parseNumbers(const QByteArray& plist)
{
    if (plist.startsWith("bplist00"))
        return parseBinary(plist);
    if (plist.trimmed().startsWith('<'))
        return parseXml(plist);
    return parseText(plist);
}

std::optional<QRectF> CaptureRect::fromAttribute(const QByteArray& plist, const QRectF& mainScreen)
{
    const auto numbers = parseNumbers(plist);
    if (!numbers)
        return std::nullopt;
    const auto [x, y, width, height] = *numbers;
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height) || width <= 2
        || height <= 2)
        return std::nullopt;
    // The attribute measures down from the main screen's top; the screen
    // layout it is compared with in the recording system grows upwards.
    const QRectF upwards(x, mainScreen.height() - y - height, width, height);
    return ScreenCoordinates::flipped(upwards, mainScreen.height()).translated(mainScreen.topLeft());
}

std::optional<QRectF> CaptureRect::of(const QString& path)
{
    const QByteArray file = path.toLocal8Bit();
    const ssize_t length = ::getxattr(file.constData(), attributeName, nullptr, 0);
    if (length <= 0 || length > largestAttribute)
        return std::nullopt;
    QByteArray bytes(static_cast<qsizetype>(length), '\0');
    if (::getxattr(file.constData(), attributeName, bytes.data(), static_cast<size_t>(length)) != length)
        return std::nullopt;
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return std::nullopt;
    return fromAttribute(bytes, screens.first()->geometry());
}

} // namespace tolvex
