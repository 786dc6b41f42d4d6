#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace tolvex {

// Reads a file of the watched folder whole, through a descriptor that can
// only be the regular file itself: the entry may have been swapped for a
// link, a FIFO or a device since it was inspected, and opening a FIFO for
// reading would wait for a writer. No more than `expectedSize` bytes and one
// past them are read, however far the file grows meanwhile. Absent when the
// item is anything else, cannot be read, or does not have exactly
// `expectedSize` bytes.
namespace PlainFile {

std::optional<QByteArray> readWhole(const QString& path, std::int64_t expectedSize);

} // namespace PlainFile
} // namespace tolvex
