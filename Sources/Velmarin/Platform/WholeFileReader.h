#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace tolvex {

// Reads a file the editors show, off the GUI thread. At most `limit` + 1
// bytes are read, so a caller sees "too large" without reading a huge file
// whole. Only a regular file is read (links followed): a FIFO or a device
// would block the reader. Failures are std::system_error with the errno.
QByteArray readWholeFile(const QString& path, std::int64_t limit);

// The path names a regular file once links are followed. Never opens it.
bool isRegularFile(const QString& path);

} // namespace tolvex
