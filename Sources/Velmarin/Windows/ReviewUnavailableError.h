#pragma once

#include <QUrl>

#include <exception>
#include <utility>

namespace tolvex {

// The recovery window could not be built: what stood in the way, and the
// library's folder it lies in. Said by an alert that offers to show that
// folder, never the window again, which would only meet the same cause.
class ReviewUnavailableError : public std::exception {
public:
    ReviewUnavailableError(std::exception_ptr cause, QUrl folder) : cause_(std::move(cause)), folder_(std::move(folder))
    {
    }

    const std::exception_ptr& cause() const noexcept { return cause_; }
    const QUrl& folder() const noexcept { return folder_; }

    // For logs; never shown to the user.
    const char* what() const noexcept override { return "reviewUnavailable"; }

private:
    std::exception_ptr cause_;
    QUrl folder_;
};

} // namespace tolvex
