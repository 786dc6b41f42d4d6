#pragma once

#include <QException>
#include <QUrl>

#include <utility>

namespace tolvex {

// The desktop's launcher could not be started, or ended without an answer
// of its own, so the file was not opened: not a missing application. It
// names the file, so that the user can be shown where it lies and open it
// some other way. A QException so that it crosses QFuture boundaries as itself.
class OpenFailedError : public QException {
public:
    explicit OpenFailedError(QUrl file) : file_(std::move(file)) {}

    const QUrl& file() const { return file_; }
    // For logs; never shown to the user.
    const char* what() const noexcept override { return "openFailed"; }

    void raise() const override { throw *this; }
    OpenFailedError* clone() const override { return new OpenFailedError(*this); }

private:
    QUrl file_;
};

} // namespace tolvex
