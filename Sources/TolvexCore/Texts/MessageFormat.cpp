#include "TolvexCore/Texts/MessageFormat.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace tolvex {

namespace {

using Kind = MessageFormat::Kind;

constexpr int maximumPosition = 9999;
constexpr int maximumPrecision = 64;

struct Specifier {
    // Code units from the "%" to the conversion, both included.
    qsizetype length = 1;
    bool percent = false;
    Kind kind = Kind::unknown;
    int position = 0; // explicit position, 0 when none
    int precision = -1;
};

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Reads a run of decimal digits at `at`; false when the value exceeds `limit`.
bool readNumber(const QString& text, qsizetype& at, int limit, int& value)
{
    value = 0;
    bool inRange = true;
    while (at < text.size() && isDigit(text[at])) {
        if (inRange) {
            value = value * 10 + (text[at].unicode() - u'0');
            if (value > limit)
                inRange = false;
        }
        ++at;
    }
    return inRange;
}

// Parses the specifier that starts with the "%" at `start`.
Specifier parseSpecifier(const QString& text, qsizetype start)
{
    Specifier specifier;
    const qsizetype size = text.size();
    qsizetype at = start + 1;
    if (at >= size)
        return specifier;
    if (text[at] == u'%') {
        specifier.percent = true;
        specifier.length = 2;
        return specifier;
    }

    if (isDigit(text[at])) {
        qsizetype digitsEnd = at;
        int value = 0;
        const bool inRange = readNumber(text, digitsEnd, maximumPosition, value);
        if (digitsEnd >= size || text[digitsEnd] != u'$' || !inRange || value == 0) {
            specifier.length = digitsEnd - start;
            return specifier;
        }
        specifier.position = value;
        at = digitsEnd + 1;
    }

    if (at < size && text[at] == u'.') {
        ++at;
        int value = 0;
        if (!readNumber(text, at, maximumPrecision, value)) {
            specifier.length = at - start;
            return specifier;
        }
        specifier.precision = value;
    }

    bool hasLength = false;
    static constexpr std::u16string_view lengths[] = {u"hh", u"ll", u"h", u"l", u"q", u"z", u"j", u"t"};
    for (const auto modifier : lengths) {
        const auto candidate = QStringView(text).mid(at, static_cast<qsizetype>(modifier.size()));
        if (candidate == QStringView(modifier.data(), static_cast<qsizetype>(modifier.size()))) {
            at += static_cast<qsizetype>(modifier.size());
            hasLength = true;
            break;
        }
    }

    if (at >= size) {
        specifier.length = at - start;
        return specifier;
    }
    const char16_t conversion = text[at].unicode();
    specifier.length = at - start + 1;
    switch (conversion) {
    case u'@':
        if (!hasLength && specifier.precision < 0)
            specifier.kind = Kind::text;
        break;
    case u'd':
    case u'i':
    case u'u':
        if (specifier.precision < 0)
            specifier.kind = Kind::integer;
        break;
    case u'f':
        if (!hasLength)
            specifier.kind = Kind::number;
        break;
    default:
        break;
    }
    return specifier;
}

std::optional<QString> render(const Specifier& specifier, const FormatArgument& argument)
{
    const auto& value = argument.value();
    switch (specifier.kind) {
    case Kind::text:
        if (const auto* text = std::get_if<QString>(&value))
            return *text;
        return std::nullopt;
    case Kind::integer:
        if (const auto* signedValue = std::get_if<std::int64_t>(&value))
            return QString::number(static_cast<qlonglong>(*signedValue));
        if (const auto* unsignedValue = std::get_if<std::uint64_t>(&value))
            return QString::number(static_cast<qulonglong>(*unsignedValue));
        return std::nullopt;
    case Kind::number: {
        const int precision = specifier.precision < 0 ? 6 : specifier.precision;
        if (const auto* real = std::get_if<double>(&value))
            return QString::number(*real, 'f', precision);
        if (const auto* signedValue = std::get_if<std::int64_t>(&value))
            return QString::number(static_cast<double>(*signedValue), 'f', precision);
        if (const auto* unsignedValue = std::get_if<std::uint64_t>(&value))
            return QString::number(static_cast<double>(*unsignedValue), 'f', precision);
        return std::nullopt;
    }
    case Kind::unknown:
        break;
    }
    return std::nullopt;
}

} // namespace

QString MessageFormat::format(const QString& text, const std::vector<FormatArgument>& arguments)
{
    QString result;
    result.reserve(text.size() + 16);
    int nextSequential = 1;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype percent = text.indexOf(QLatin1Char('%'), at);
        if (percent < 0) {
            result.append(QStringView(text).mid(at));
            break;
        }
        result.append(QStringView(text).mid(at, percent - at));
        const Specifier specifier = parseSpecifier(text, percent);
        if (specifier.percent) {
            result.append(QLatin1Char('%'));
            at = percent + 2;
            continue;
        }
        if (specifier.kind == Kind::unknown) {
            // Shown as written: the "%" here, the rest as ordinary text.
            result.append(QLatin1Char('%'));
            at = percent + 1;
            continue;
        }
        const int position = specifier.position > 0 ? specifier.position : nextSequential++;
        std::optional<QString> filled;
        if (position <= static_cast<int>(arguments.size()))
            filled = render(specifier, arguments[static_cast<std::size_t>(position - 1)]);
        if (filled)
            result.append(*filled);
        else
            result.append(QStringView(text).mid(percent, specifier.length));
        at = percent + specifier.length;
    }
    return result;
}

std::vector<MessageFormat::Placeholder> MessageFormat::placeholders(const QString& text)
{
    std::vector<Placeholder> found;
    int nextSequential = 1;
    qsizetype at = 0;
    while (true) {
        const qsizetype percent = text.indexOf(QLatin1Char('%'), at);
        if (percent < 0)
            break;
        const Specifier specifier = parseSpecifier(text, percent);
        if (specifier.percent) {
            at = percent + 2;
            continue;
        }
        Placeholder placeholder;
        placeholder.kind = specifier.kind;
        placeholder.written = text.mid(percent, specifier.length);
        if (specifier.kind != Kind::unknown)
            placeholder.position = specifier.position > 0 ? specifier.position : nextSequential++;
        found.push_back(std::move(placeholder));
        at = percent + specifier.length;
    }
    return found;
}

std::vector<std::pair<int, MessageFormat::Kind>> MessageFormat::placeholderSignature(const QString& text)
{
    std::vector<std::pair<int, Kind>> signature;
    for (const auto& placeholder : placeholders(text))
        signature.emplace_back(placeholder.position, placeholder.kind);
    std::sort(signature.begin(), signature.end());
    return signature;
}

QString MessageFormat::replacingLiteral(QString text, const QString& placeholder, const QString& replacement)
{
    if (placeholder.isEmpty())
        return text;
    return text.replace(placeholder, replacement);
}

} // namespace tolvex
