#pragma once

#include "TolvexCore/Model/RawEnum.h"

#include <QException>
#include <QString>

#include <cstddef>

namespace tolvex {

// Why an image was refused. A QException so that it crosses QFuture
// boundaries as itself.
class ImageAdmissionError : public QException {
public:
    // In this order.
    enum class Code {
        // Incomplete, undecodable, of an unrecognised or non-image type, or
        // without a usable size.
        invalidImage,
        // More pixels than the budget allows.
        pixelBudgetExceeded,
    };

    explicit ImageAdmissionError(Code code) noexcept : code_(code) {}

    Code code() const noexcept { return code_; }
    // The case name, for logs; never shown to the user.
    const char* what() const noexcept override;
    // The message for the user, in their first preferred language. Built from
    // a localizer of its own over the core bundle, so it works before (and
    // without) the application's localizer.
    QString errorDescription() const;

    void raise() const override { throw *this; }
    ImageAdmissionError* clone() const override { return new ImageAdmissionError(*this); }

    friend bool operator==(const ImageAdmissionError& a, const ImageAdmissionError& b) noexcept
    {
        return a.code_ == b.code_;
    }

    static ImageAdmissionError invalidImage() { return ImageAdmissionError(Code::invalidImage); }
    static ImageAdmissionError pixelBudgetExceeded() { return ImageAdmissionError(Code::pixelBudgetExceeded); }

private:
    Code code_;
};

template <>
struct RawEnumTraits<ImageAdmissionError::Code> {
    static constexpr std::array<std::string_view, 2> rawValues{"invalidImage", "pixelBudgetExceeded"};
};

inline std::size_t qHash(const ImageAdmissionError& error, std::size_t seed = 0) noexcept
{
    return static_cast<std::size_t>(error.code()) ^ seed;
}

} // namespace tolvex
