#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace tolvex {

namespace Json {
class JsonDocument;
}

// The first look at a "state.json": the integer held by the top-level key
// "schemaVersion". Absent when the top level is not an object, the key is
// missing, or its value is not a number that is exactly a signed 64-bit
// integer (1.0 is; 1.5, "1" and 2^63 are not).
std::optional<std::int64_t> probeSchemaVersion(const Json::JsonDocument& document);
// The same for bytes, absent as well when they are not JSON as a whole.
std::optional<std::int64_t> probeSchemaVersion(const QByteArray& bytes);

} // namespace tolvex
