#pragma once

#include "Velmarin/Platform/DesktopFileError.h"

namespace tolvex {

// The desktop's launcher could not be started, or ended without an answer
// of its own, so the file was not opened: not a missing application.
class OpenFailedError : public DesktopFileError<OpenFailedError> {
public:
    explicit OpenFailedError(QUrl file) : DesktopFileError(std::move(file)) {}

    // For logs; never shown to the user.
    const char* what() const noexcept override { return "openFailed"; }
};

} // namespace tolvex
