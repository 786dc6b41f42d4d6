#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

namespace tolvex {

// Reads the one shape of property list the program needs from a file's
// attributes: a top-level array of numbers (integers or reals), in the
// binary "bplist00" form or the XML form. Anything else (another top-level
// object, a nested array, a string among the numbers, a malformed or
// truncated list, an offset that points outside the data) gives nothing.
// The input is untrusted: every offset, count and length is checked before
// use, and no input makes the reader allocate more than a small multiple of
// its size.
namespace PropertyList {

std::optional<QList<double>> numberArray(const QByteArray& bytes);

std::optional<QList<double>> binaryNumberArray(const QByteArray& bytes);
std::optional<QList<double>> xmlNumberArray(const QByteArray& bytes);

} // namespace PropertyList
} // namespace tolvex
