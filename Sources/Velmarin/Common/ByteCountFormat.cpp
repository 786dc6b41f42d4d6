#include "Velmarin/Common/ByteCountFormat.h"

#include "TolvexCore/Texts/MessageFormat.h"

#include <QLocale>

#include <array>
#include <cmath>

namespace tolvex {

namespace {

struct Unit {
    const char* name;
    int decimals;
};

constexpr std::array<Unit, 6> units{{{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};

} // namespace

QString formatByteCount(std::int64_t bytes, const Localizer& localizer)
{
    const QLocale locale(localizer.language());
    const bool negative = bytes < 0;
    // The magnitude of INT64_MIN does not fit an int64; a double holds it.
    const double magnitude = negative ? -static_cast<double>(bytes) : static_cast<double>(bytes);
    const QString sign = negative ? locale.negativeSign() : QString();
    if (magnitude < 1000) {
        const auto whole = static_cast<std::int64_t>(magnitude);
        return MessageFormat::format(localizer.string(whole == 1 ? MessageKey::sizeByte : MessageKey::sizeBytes),
            {sign + locale.toString(static_cast<qlonglong>(whole))});
    }
    double value = magnitude / 1000;
    std::size_t index = 0;
    // Rounding may carry into the next unit (999,999 bytes is "1 MB", not "1000 KB").
    while (index + 1 < units.size()) {
        const double scale = std::pow(10.0, units[index].decimals);
        if (std::round(value * scale) / scale < 1000)
            break;
        value /= 1000;
        ++index;
    }
    const Unit& unit = units[index];
    const double scale = std::pow(10.0, unit.decimals);
    const double rounded = std::round(value * scale) / scale;
    QString number = locale.toString(rounded, 'f', unit.decimals);
    if (unit.decimals > 0) {
        const QString point = locale.decimalPoint();
        const QString zero = locale.zeroDigit();
        while (number.endsWith(zero))
            number.chop(zero.size());
        if (number.endsWith(point))
            number.chop(point.size());
    }
    return sign + number + QLatin1Char(' ') + QLatin1String(unit.name);
}

} // namespace tolvex
