#pragma once

#include "TolvexCore/Model/RawEnum.h"

#include <QException>

#include <exception>
#include <optional>
#include <string_view>

namespace tolvex {

// The one error vocabulary of the core library. A QException so that it
// crosses QFuture boundaries as itself (any other type arrives wrapped in
// QUnhandledException).
class StoreError : public QException {
public:
    // The order is the error code, 0 to 11.
    enum class Code {
        invalidPath,
        invalidSource,
        invalidSnapshot,
        unsupportedSchema,
        unavailableSpace,
        budgetExceeded,
        sourceChanged,
        recoveryRequired,
        notFound,
        operationInProgress,
        invalidEdit,
        // The data root's path no longer names the folder the store holds:
        // the folder was moved or replaced (a copy put back, say) while the
        // program ran. Every later operation of that store is refused; only
        // a new start, which claims whatever folder is there, may go on.
        rootReplaced,
    };

    explicit StoreError(Code code) noexcept : code_(code) {}

    Code code() const noexcept { return code_; }
    int errorCode() const noexcept { return static_cast<int>(code_); }
    // The case name, e.g. "sourceChanged"; cleanup receipts store it.
    std::string_view caseName() const noexcept;
    const char* what() const noexcept override;

    void raise() const override { throw *this; }
    StoreError* clone() const override { return new StoreError(*this); }

    friend bool operator==(const StoreError& a, const StoreError& b) noexcept { return a.code_ == b.code_; }

    static StoreError invalidPath() { return StoreError(Code::invalidPath); }
    static StoreError invalidSource() { return StoreError(Code::invalidSource); }
    static StoreError invalidSnapshot() { return StoreError(Code::invalidSnapshot); }
    static StoreError unsupportedSchema() { return StoreError(Code::unsupportedSchema); }
    static StoreError unavailableSpace() { return StoreError(Code::unavailableSpace); }
    static StoreError budgetExceeded() { return StoreError(Code::budgetExceeded); }
    static StoreError sourceChanged() { return StoreError(Code::sourceChanged); }
    static StoreError recoveryRequired() { return StoreError(Code::recoveryRequired); }
    static StoreError notFound() { return StoreError(Code::notFound); }
    static StoreError operationInProgress() { return StoreError(Code::operationInProgress); }
    static StoreError invalidEdit() { return StoreError(Code::invalidEdit); }
    static StoreError rootReplaced() { return StoreError(Code::rootReplaced); }

    // The code of a caught error when it is a StoreError, also one that
    // crossed a QFuture wrapped in QUnhandledException; none otherwise.
    static std::optional<Code> codeOf(const std::exception_ptr& error);

private:
    Code code_;
};

template <>
struct RawEnumTraits<StoreError::Code> {
    static constexpr std::array<std::string_view, 12> rawValues{"invalidPath", "invalidSource", "invalidSnapshot",
        "unsupportedSchema", "unavailableSpace", "budgetExceeded", "sourceChanged", "recoveryRequired", "notFound",
        "operationInProgress", "invalidEdit", "rootReplaced"};
};

inline std::size_t qHash(const StoreError& error, std::size_t seed = 0) noexcept
{
    return static_cast<std::size_t>(error.code()) ^ seed;
}

} // namespace tolvex
