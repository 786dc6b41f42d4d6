#pragma once

#include "Velmarin/Platform/PanelWindowSystem.h"

#include <QByteArray>
#include <QHash>

struct xcb_connection_t;

namespace tolvex {

// The panel's window-system calls on X11: the SHAPE extension's input
// region, the _NET_WM_CM_Sn selection for a compositor, and the EWMH root
// properties and messages for the active window and sticky windows.
class X11PanelWindowSystem final : public PanelWindowSystem {
public:
    // Without an X11 connection (another platform plug-in) every call is a
    // harmless no-op and the answers are "none".
    X11PanelWindowSystem();

    void setInputRegion(QWindow& window, const QRegion& region) override;
    bool hasCompositor() const override;
    WindowID activeWindow() const override;
    bool activate(WindowID window) override;
    void takeFocus(QWindow& window) override;
    void showOnAllDesktops(QWindow& window) override;

private:
    // Interned once: every reveal, hide and focus change asks for the same
    // few atoms, and each interning is a round trip the GUI thread waits on.
    std::uint32_t atom(const char* name) const;

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    int screenNumber_ = 0;
    bool hasShape_ = false;
    mutable QHash<QByteArray, std::uint32_t> atoms_;
};

} // namespace tolvex
