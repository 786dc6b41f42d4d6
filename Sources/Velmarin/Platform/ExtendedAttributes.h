#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace tolvex {

// User extended attributes of a file (getxattr family). Screenshot tools mark
// their files with the same attribute names as elsewhere, under "user.".
namespace ExtendedAttributes {

enum class Links { follow, noFollow };

// Whether the item carries the attribute: asking for its size succeeds.
// Nothing is opened, so a FIFO or a device is never read.
bool has(const QString& path, const char* name, Links links);

// The attribute's value; absent when it is missing, empty, larger than
// `maxBytes`, or changed size between asking and reading.
std::optional<QByteArray> read(const QString& path, const char* name, qsizetype maxBytes, Links links);

} // namespace ExtendedAttributes
} // namespace tolvex
