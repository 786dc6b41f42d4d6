#pragma once

#include "Velmarin/Platform/DesktopFileError.h"

namespace tolvex {

// The desktop has no application set to open a file of this kind.
class NoApplicationError : public DesktopFileError<NoApplicationError> {
public:
    explicit NoApplicationError(QUrl file) : DesktopFileError(std::move(file)) {}

    // For logs; never shown to the user.
    const char* what() const noexcept override { return "noApplication"; }
};

} // namespace tolvex
