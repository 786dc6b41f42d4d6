#include "Velmarin/Platform/PlainFile.h"

#include "TolvexCore/Files/SystemFileOperations.h"

#include <QUrl>

#include <exception>

namespace tolvex::PlainFile {

std::optional<QByteArray> readWhole(const QString& path, std::int64_t expectedSize)
{
    if (expectedSize < 0)
        return std::nullopt;
    // The file layer's open follows no link and waits for no FIFO's writer,
    // and its read stops one byte past the size expected: a file still
    // being written, or one someone keeps growing, costs no more than that.
    const FileOperations& files = *SystemFileOperations::shared();
    try {
        const OpenFile file = files.open(QUrl::fromLocalFile(path));
        const FileInfo info = files.inspect(file);
        if (!info.isRegularFile || info.byteCount != expectedSize)
            return std::nullopt;
        QByteArray bytes;
        bytes.reserve(static_cast<qsizetype>(expectedSize));
        files.read(
            file, [&bytes](const char* data, std::size_t size) { bytes.append(data, static_cast<qsizetype>(size)); },
            expectedSize);
        if (bytes.size() != expectedSize)
            return std::nullopt;
        return bytes;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace tolvex::PlainFile
