#include "TolvexCore/Content/ImageAdmissionError.h"

namespace tolvex {

const char* ImageAdmissionError::what() const noexcept
{
    // The raw values are string literals, so their data is NUL-terminated.
    return rawValue(code_).data();
}

} // namespace tolvex
