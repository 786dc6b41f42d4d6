#pragma once

#include "Velmarin/Platform/DesktopOpener.h"

namespace tolvex {

// QDesktopServices for opening; the file manager's D-Bus interface, else the
// enclosing folder, for revealing.
class QtDesktopOpener final : public DesktopOpener {
public:
    bool open(const QUrl& file) override;
    void reveal(const QUrl& file) override;
};

} // namespace tolvex
