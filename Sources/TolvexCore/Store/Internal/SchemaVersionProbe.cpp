#include "TolvexCore/Store/Internal/SchemaVersionProbe.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <string>

namespace tolvex {

namespace {

// Walks the document without building it and keeps the value of the
// top-level "schemaVersion" (the last one, should the key repeat).
class SchemaVersionReader {
public:
    using json = nlohmann::json;

    bool null() { return scalar(std::nullopt); }
    bool boolean(bool) { return scalar(std::nullopt); }
    bool number_integer(json::number_integer_t value) { return scalar(value); }
    bool number_unsigned(json::number_unsigned_t value)
    {
        if (value > static_cast<json::number_unsigned_t>(std::numeric_limits<std::int64_t>::max()))
            return scalar(std::nullopt);
        return scalar(static_cast<std::int64_t>(value));
    }
    bool number_float(json::number_float_t value, const std::string&)
    {
        // The doubles in [-2^63, 2^63) with no fraction convert exactly.
        constexpr double limit = 9223372036854775808.0;
        if (!std::isfinite(value) || std::trunc(value) != value || value < -limit || value >= limit)
            return scalar(std::nullopt);
        return scalar(static_cast<std::int64_t>(value));
    }
    bool string(std::string&) { return scalar(std::nullopt); }
    bool binary(json::binary_t&) { return scalar(std::nullopt); }
    bool start_object(std::size_t)
    {
        if (depth_ == 0)
            topLevelIsObject_ = true;
        enter();
        return true;
    }
    bool key(std::string& name)
    {
        atSchemaKey_ = depth_ == 1 && name == "schemaVersion";
        return true;
    }
    bool end_object()
    {
        --depth_;
        return true;
    }
    bool start_array(std::size_t)
    {
        enter();
        return true;
    }
    bool end_array()
    {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

    std::optional<std::int64_t> result() const
    {
        return topLevelIsObject_ && hasSchemaKey_ ? value_ : std::nullopt;
    }

private:
    void enter()
    {
        if (atSchemaKey_) {
            // A container as the value of "schemaVersion".
            hasSchemaKey_ = true;
            value_.reset();
            atSchemaKey_ = false;
        }
        ++depth_;
    }
    bool scalar(std::optional<std::int64_t> value)
    {
        if (atSchemaKey_) {
            hasSchemaKey_ = true;
            value_ = value;
            atSchemaKey_ = false;
        }
        return true;
    }

    int depth_ = 0;
    bool topLevelIsObject_ = false;
    bool atSchemaKey_ = false;
    bool hasSchemaKey_ = false;
    std::optional<std::int64_t> value_;
};

} // namespace

std::optional<std::int64_t> probeSchemaVersion(const QByteArray& bytes)
{
    SchemaVersionReader reader;
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.constData());
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(begin, begin + bytes.size(), &reader);
    } catch (const nlohmann::json::exception&) {
        parsed = false;
    }
    return parsed ? reader.result() : std::nullopt;
}

} // namespace tolvex
