#include "TolvexCore/Model/StoreError.h"

namespace tolvex {

std::string_view StoreError::caseName() const noexcept
{
    return rawValue(code_);
}

const char* StoreError::what() const noexcept
{
    // The raw values are string literals, so their data is NUL-terminated.
    return caseName().data();
}

} // namespace tolvex
