#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace tolvex {

// The first look at a "state.json": the integer held by the top-level key
// "schemaVersion". Absent when the bytes are not JSON, the top level is not
// an object, the key is missing, or its value is not a number that converts
// exactly to a signed 64-bit integer (1.0 does; 1.5, "1" and 2^63 do not).
// The whole text is checked to be JSON; no document is built.
std::optional<std::int64_t> probeSchemaVersion(const QByteArray& bytes);

} // namespace tolvex
