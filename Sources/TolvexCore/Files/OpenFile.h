#pragma once

#include <QUrl>

#include <memory>

namespace tolvex {

class PosixFile;

// A file held open by the file layer: every later call on it (its status, its
// contents, a copy of it) reaches the very item that was opened, whatever
// happens to its name meanwhile. Copies share the one descriptor, which closes
// with the last of them.
class OpenFile {
public:
    OpenFile() = default;
    OpenFile(QUrl url, std::shared_ptr<const PosixFile> file) : url_(std::move(url)), file_(std::move(file)) {}

    // The URL it was opened by (for messages and logs; never reopened).
    const QUrl& url() const { return url_; }
    bool isOpen() const { return file_ != nullptr; }
    // -1 when closed.
    int descriptor() const;

private:
    QUrl url_;
    std::shared_ptr<const PosixFile> file_;
};

} // namespace tolvex
