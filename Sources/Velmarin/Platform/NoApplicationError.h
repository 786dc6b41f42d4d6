#pragma once

#include <QException>
#include <QUrl>

#include <utility>

namespace tolvex {

// The desktop has no application set to open a file of this kind. It names
// the file, so that the user can be shown where it lies and open it some
// other way. A QException so that it crosses QFuture boundaries as itself.
class NoApplicationError : public QException {
public:
    explicit NoApplicationError(QUrl file) : file_(std::move(file)) {}

    const QUrl& file() const { return file_; }
    // For logs; never shown to the user.
    const char* what() const noexcept override { return "noApplication"; }

    void raise() const override { throw *this; }
    NoApplicationError* clone() const override { return new NoApplicationError(*this); }

private:
    QUrl file_;
};

} // namespace tolvex
