#include "TolvexCore/Model/Json/JsonReader.h"

#include "TolvexCore/Model/UuidText.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include <QStringDecoder>

namespace tolvex::Json {

namespace {

// The whole number a JSON number's text denotes, as a sign and a magnitude;
// absent when it has a fraction that is not zero or needs more than 64 bits.
// The text is a number the lexer accepted; its decimal point may be the C
// locale's of the moment, so any character but digits, signs and exponent
// marks is taken as it.
struct WholeNumber {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

std::optional<WholeNumber> wholeNumberFromText(std::string_view text)
{
    WholeNumber result;
    std::size_t at = 0;
    if (at < text.size() && text[at] == '-') {
        result.negative = true;
        ++at;
    }
    // The significant digits, without leading zeros, and where the point stands.
    std::string significant;
    std::int64_t pointShift = 0; // digits after the point
    bool afterPoint = false;
    for (; at < text.size() && text[at] != 'e' && text[at] != 'E'; ++at) {
        const char c = text[at];
        if (c < '0' || c > '9') {
            afterPoint = true;
            continue;
        }
        if (afterPoint)
            ++pointShift;
        if (significant.empty() && c == '0')
            continue;
        significant.push_back(c);
    }
    // Trailing zeros of the digits move into the exponent.
    std::int64_t exponent = -pointShift;
    while (!significant.empty() && significant.back() == '0') {
        significant.pop_back();
        ++exponent;
    }
    if (significant.empty())
        return result; // zero, whatever its exponent or sign
    if (at < text.size()) {
        ++at; // 'e' or 'E'
        bool negativeExponent = false;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            negativeExponent = text[at++] == '-';
        // Saturated: anything beyond a few dozen digits is out of range either way.
        std::int64_t written = 0;
        for (; at < text.size(); ++at)
            written = std::min<std::int64_t>(written * 10 + (text[at] - '0'), 1'000'000'000);
        exponent += negativeExponent ? -written : written;
    }
    if (exponent < 0)
        return std::nullopt; // a fraction that is not zero
    // 2^64 has 20 digits.
    if (static_cast<std::int64_t>(significant.size()) + exponent > 20)
        return std::nullopt;
    unsigned __int128 value = 0;
    for (const char c : significant)
        value = value * 10 + static_cast<unsigned>(c - '0');
    for (std::int64_t i = 0; i < exponent; ++i)
        value *= 10;
    if (value > std::numeric_limits<std::uint64_t>::max())
        return std::nullopt;
    result.magnitude = static_cast<std::uint64_t>(value);
    return result;
}

// A JSON number that is exactly a whole number within the range of T. Whole
// numbers written with a fraction or an exponent ("1.0", "1e2") count; they
// are read from their text, never through a double, so nothing is rounded.
template <typename T>
std::optional<T> exactInteger(JsonValue value)
{
    using Type = JsonValue::Type;
    if (value.type() == Type::unsignedInteger) {
        const auto v = value.unsignedInteger();
        if (v <= static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
            return static_cast<T>(v);
        return std::nullopt;
    }
    if (value.type() == Type::signedInteger) {
        const auto v = value.signedInteger();
        if constexpr (std::is_unsigned_v<T>) {
            if (v < 0)
                return std::nullopt;
            return static_cast<T>(v);
        } else {
            return static_cast<T>(v);
        }
    }
    if (value.type() != Type::floating)
        return std::nullopt;
    const std::optional<WholeNumber> whole = wholeNumberFromText(value.numberText());
    if (!whole)
        return std::nullopt;
    if (whole->magnitude == 0)
        return T(0);
    if constexpr (std::is_unsigned_v<T>) {
        if (whole->negative)
            return std::nullopt;
        return static_cast<T>(whole->magnitude);
    } else {
        constexpr auto limit = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
        if (!whole->negative)
            return whole->magnitude <= limit ? std::optional<T>(static_cast<T>(whole->magnitude)) : std::nullopt;
        if (whole->magnitude > limit + 1)
            return std::nullopt;
        // -(limit + 1) does not fit the positive side: build it from below.
        return static_cast<T>(-static_cast<T>(whole->magnitude - 1) - 1);
    }
}

} // namespace

DecodingError::DecodingError(Kind kind, QString codingPath, QString description)
    : kind_(kind), codingPath_(std::move(codingPath)), description_(std::move(description))
{
    what_ = (codingPath_.isEmpty() ? description_ : codingPath_ + QStringLiteral(": ") + description_).toUtf8();
}

QString CodingPath::text() const
{
    if (!parent_)
        return QString();
    QString parentText = parent_->text();
    if (!parentText.isEmpty())
        parentText += u'.';
    return parentText + (key_ ? QString::fromUtf8(key_) : QString::number(index_));
}

ObjectReader::ObjectReader(JsonValue value, const CodingPath& path) : object_(value), path_(path)
{
    if (!object_.isObject())
        throw typeMismatch(path_, "object");
}

JsonValue ObjectReader::required(const char* key) const
{
    JsonValue value = object_;
    if (!object_.find(key, value))
        throw DecodingError(DecodingError::Kind::keyNotFound, memberPath(key).text(),
            QStringLiteral("No value associated with key \"%1\".").arg(QString::fromUtf8(key)));
    if (value.isNull())
        throw DecodingError(DecodingError::Kind::valueNotFound, memberPath(key).text(),
            QStringLiteral("Expected a value but found null instead."));
    return value;
}

std::optional<JsonValue> ObjectReader::optional(const char* key) const
{
    JsonValue value = object_;
    if (!object_.find(key, value) || value.isNull())
        return std::nullopt;
    return value;
}

DecodingError ObjectReader::typeMismatch(const CodingPath& path, const char* expected)
{
    return DecodingError(DecodingError::Kind::typeMismatch, path.text(),
        QStringLiteral("Expected to decode %1 but found another type instead.").arg(QString::fromUtf8(expected)));
}

QString ObjectReader::stringValue(JsonValue value, const CodingPath& path)
{
    if (!value.isString())
        throw typeMismatch(path, "string");
    const std::string_view text = value.string();
    // QString::fromUtf8 drops a leading U+FEFF, which belongs to the text.
    if (text.starts_with("\xEF\xBB\xBF")) {
        QStringDecoder decoder(QStringConverter::Utf8,
            QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        return decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    }
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool ObjectReader::booleanValue(JsonValue value, const CodingPath& path)
{
    if (!value.isBoolean())
        throw typeMismatch(path, "Bool");
    return value.boolean();
}

std::int64_t ObjectReader::int64Value(JsonValue value, const CodingPath& path)
{
    if (!value.isNumber())
        throw typeMismatch(path, "Int64");
    if (auto v = exactInteger<std::int64_t>(value))
        return *v;
    throw DecodingError(DecodingError::Kind::dataCorrupted, path.text(),
        QStringLiteral("Parsed JSON number does not fit in Int64."));
}

std::uint64_t ObjectReader::uint64Value(JsonValue value, const CodingPath& path)
{
    if (!value.isNumber())
        throw typeMismatch(path, "UInt64");
    if (auto v = exactInteger<std::uint64_t>(value))
        return *v;
    throw DecodingError(DecodingError::Kind::dataCorrupted, path.text(),
        QStringLiteral("Parsed JSON number does not fit in UInt64."));
}

double ObjectReader::numberValue(JsonValue value, const CodingPath& path)
{
    if (!value.isNumber())
        throw typeMismatch(path, "Double");
    return value.number();
}

QUuid ObjectReader::uuidValue(JsonValue value, const CodingPath& path)
{
    if (!value.isString())
        throw typeMismatch(path, "string");
    if (auto id = parseUuid(value.string()))
        return *id;
    throw DecodingError(DecodingError::Kind::dataCorrupted, path.text(),
        QStringLiteral("Attempted to decode UUID from invalid UUID string."));
}

QUrl ObjectReader::urlValue(JsonValue value, const CodingPath& path)
{
    const QString text = stringValue(value, path);
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        throw DecodingError(DecodingError::Kind::dataCorrupted, path.text(), QStringLiteral("Invalid URL string."));
    return url;
}

QByteArray ObjectReader::dataValue(JsonValue value, const CodingPath& path)
{
    if (!value.isString())
        throw typeMismatch(path, "Data");
    const std::string_view text = value.string();
    const QByteArray base64 = QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size()));
    // Standard Base64 with its padding: the length is a multiple of four.
    auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
    if (base64.size() % 4 != 0 || !decoded)
        throw DecodingError(DecodingError::Kind::dataCorrupted, path.text(),
            QStringLiteral("Encountered Data is not valid Base64."));
    return std::move(decoded.decoded);
}

QString ObjectReader::string(const char* key) const { return stringValue(required(key), memberPath(key)); }
bool ObjectReader::boolean(const char* key) const { return booleanValue(required(key), memberPath(key)); }
std::int64_t ObjectReader::int64(const char* key) const { return int64Value(required(key), memberPath(key)); }
std::uint64_t ObjectReader::uint64(const char* key) const { return uint64Value(required(key), memberPath(key)); }
double ObjectReader::number(const char* key) const { return numberValue(required(key), memberPath(key)); }
QUuid ObjectReader::uuid(const char* key) const { return uuidValue(required(key), memberPath(key)); }
QUrl ObjectReader::url(const char* key) const { return urlValue(required(key), memberPath(key)); }
QByteArray ObjectReader::data(const char* key) const { return dataValue(required(key), memberPath(key)); }

ObjectReader ObjectReader::nested(const char* key) const
{
    return ObjectReader(required(key), memberPath(key));
}

std::optional<QString> ObjectReader::optionalString(const char* key) const
{
    if (const auto value = optional(key))
        return stringValue(*value, memberPath(key));
    return std::nullopt;
}

std::optional<std::uint64_t> ObjectReader::optionalUInt64(const char* key) const
{
    if (const auto value = optional(key))
        return uint64Value(*value, memberPath(key));
    return std::nullopt;
}

std::optional<QUuid> ObjectReader::optionalUuid(const char* key) const
{
    if (const auto value = optional(key))
        return uuidValue(*value, memberPath(key));
    return std::nullopt;
}

std::optional<QUrl> ObjectReader::optionalUrl(const char* key) const
{
    if (const auto value = optional(key))
        return urlValue(*value, memberPath(key));
    return std::nullopt;
}

std::optional<QByteArray> ObjectReader::optionalData(const char* key) const
{
    if (const auto value = optional(key))
        return dataValue(*value, memberPath(key));
    return std::nullopt;
}

} // namespace tolvex::Json
