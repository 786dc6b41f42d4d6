#pragma once

#include <QString>
#include <QUuid>

#include <optional>
#include <string_view>

namespace tolvex {

// The canonical text of a UUID in the data root: 36 characters, 8-4-4-4-12,
// upper-case hexadecimal digits. File and folder names use it too.
QString uuidText(const QUuid& id);

// Reads the 36-character 8-4-4-4-12 form in either letter case. Anything else
// (braces, missing hyphens, surrounding space) is not a UUID.
std::optional<QUuid> parseUuid(QStringView text);
// The same for UTF-8 text, as a JSON document holds it.
std::optional<QUuid> parseUuid(std::string_view text);

} // namespace tolvex
