#pragma once

#include <QException>

#include <atomic>
#include <memory>

namespace tolvex {

// The one cancellation exception: a cancelled task ends with it.
class CancellationError : public QException {
public:
    const char* what() const noexcept override { return "cancelled"; }
    void raise() const override { throw *this; }
    CancellationError* clone() const override { return new CancellationError(*this); }
};

// Shared between the caller that may cancel and the work that checks it.
// A default token is never cancelled.
class CancellationToken {
public:
    static CancellationToken make() { return CancellationToken(std::make_shared<std::atomic<bool>>(false)); }
    CancellationToken() = default;

    void cancel() const
    {
        if (flag_)
            flag_->store(true);
    }
    bool isCancelled() const { return flag_ && flag_->load(); }
    // Throws CancellationError when cancelled.
    void check() const
    {
        if (isCancelled())
            throw CancellationError();
    }

private:
    explicit CancellationToken(std::shared_ptr<std::atomic<bool>> flag) : flag_(std::move(flag)) {}
    std::shared_ptr<std::atomic<bool>> flag_;
};

} // namespace tolvex
