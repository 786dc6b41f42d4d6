#pragma once

#include <QException>
#include <QUrl>

#include <utility>

namespace tolvex {

// Neither the file manager nor the desktop's launcher could show a file or
// its folder. It names the file, whose path the user is then given to find
// it some other way. A QException so that it crosses QFuture boundaries as itself.
class RevealFailedError : public QException {
public:
    explicit RevealFailedError(QUrl file) : file_(std::move(file)) {}

    const QUrl& file() const { return file_; }
    // For logs; never shown to the user.
    const char* what() const noexcept override { return "revealFailed"; }

    void raise() const override { throw *this; }
    RevealFailedError* clone() const override { return new RevealFailedError(*this); }

private:
    QUrl file_;
};

} // namespace tolvex
