#include "TolvexCore/Model/StoreError.h"

#include <QUnhandledException>

namespace tolvex {

std::optional<StoreError::Code> StoreError::codeOf(const std::exception_ptr& error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const QUnhandledException& wrapper) {
        return codeOf(wrapper.exception());
    } catch (const StoreError& storeError) {
        return storeError.code();
    } catch (...) {
        return std::nullopt;
    }
}

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
