#pragma once

#include "Velmarin/Platform/DesktopFileError.h"

namespace tolvex {

// Neither the file manager nor the desktop's launcher could show a file or
// its folder; the user is then given its path to find it some other way.
class RevealFailedError : public DesktopFileError<RevealFailedError> {
public:
    explicit RevealFailedError(QUrl file) : DesktopFileError(std::move(file)) {}

    // For logs; never shown to the user.
    const char* what() const noexcept override { return "revealFailed"; }
};

} // namespace tolvex
