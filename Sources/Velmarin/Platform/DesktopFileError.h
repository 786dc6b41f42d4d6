#pragma once

#include <QException>
#include <QUrl>

#include <utility>

namespace tolvex {

// The desktop did not open or show a file. It names the file, so that the
// user can be shown where it lies or given its path. Each way of failing is
// a `Failure` of its own, derived from this, which callers catch by type; a
// QException that crosses QFuture boundaries as that `Failure`.
template <typename Failure>
class DesktopFileError : public QException {
public:
    const QUrl& file() const { return file_; }

    void raise() const override { throw static_cast<const Failure&>(*this); }
    QException* clone() const override { return new Failure(static_cast<const Failure&>(*this)); }

protected:
    explicit DesktopFileError(QUrl file) : file_(std::move(file)) {}

private:
    QUrl file_;
};

} // namespace tolvex
