#pragma once

#include "Velmarin/Platform/DesktopOpener.h"

namespace tolvex {

// QDesktopServices for opening; the file manager's D-Bus interface, else the
// enclosing folder, for revealing. A confirmed opening runs the desktop's
// launcher (xdg-open) itself, since QDesktopServices reports success as soon
// as the launcher starts, even when it then finds no application.
class QtDesktopOpener final : public DesktopOpener {
public:
    bool open(const QUrl& file) override;
    QCoro::Task<bool> openAndConfirm(const QUrl& file) override;
    void reveal(const QUrl& file) override;
};

} // namespace tolvex
