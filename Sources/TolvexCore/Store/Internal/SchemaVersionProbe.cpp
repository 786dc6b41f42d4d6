#include "TolvexCore/Store/Internal/SchemaVersionProbe.h"

#include "TolvexCore/Model/Json/JsonDocument.h"
#include "TolvexCore/Model/Json/JsonReader.h"

namespace tolvex {

std::optional<std::int64_t> probeSchemaVersion(const Json::JsonDocument& document)
{
    const Json::JsonValue root = document.root();
    Json::JsonValue version = root;
    if (!root.isObject() || !root.find("schemaVersion", version))
        return std::nullopt;
    try {
        // The integer rule of every record: exact, from the number's text.
        return Json::ObjectReader::int64Value(version, Json::CodingPath());
    } catch (const Json::DecodingError&) {
        return std::nullopt;
    }
}

std::optional<std::int64_t> probeSchemaVersion(const QByteArray& bytes)
{
    try {
        return probeSchemaVersion(Json::JsonDocument::parse(bytes));
    } catch (const Json::DecodingError&) {
        return std::nullopt;
    }
}

} // namespace tolvex
