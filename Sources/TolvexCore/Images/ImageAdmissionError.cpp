#include "TolvexCore/Images/ImageAdmissionError.h"

#include "TolvexCore/Texts/Localizer.h"
#include "TolvexCore/Texts/MessageKey.h"

namespace tolvex {

const char* ImageAdmissionError::what() const noexcept
{
    // The raw values are string literals, so their data is NUL-terminated.
    return rawValue(code_).data();
}

QString ImageAdmissionError::errorDescription() const
{
    const Localizer localizer(Localizer::preferredLanguageIdentifier());
    return localizer.string(code_ == Code::pixelBudgetExceeded ? MessageKey::imagePixelLimit : MessageKey::imageInvalid);
}

} // namespace tolvex
