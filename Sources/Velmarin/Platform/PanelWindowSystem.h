#pragma once

#include <QRegion>

#include <cstdint>
#include <memory>

class QWindow;

namespace tolvex {

// What the shelf's panel needs of the window system beyond Qt: where its
// window takes pointer input, whether translucency is composited, which
// window had the focus and how to give it back, and being on every
// desktop. X11PanelWindowSystem is the real one; tests use a recording twin.
class PanelWindowSystem {
public:
    using WindowID = std::uint32_t;

    virtual ~PanelWindowSystem() = default;

    // Pointer input reaches the window only inside `region` (window
    // coordinates); everywhere else it goes to the window below. The
    // painting is not clipped.
    virtual void setInputRegion(QWindow& window, const QRegion& region) = 0;
    // Whether a compositing manager runs, so that translucent pixels show
    // what lies below instead of black.
    virtual bool hasCompositor() const = 0;
    // The desktop's active window, 0 when none or unknown.
    virtual WindowID activeWindow() const = 0;
    // Asks the window manager to activate the window; answers whether the
    // request could be sent.
    virtual bool activate(WindowID window) = 0;
    // Gives the window the keyboard focus now (it is not managed by the
    // window manager, so nobody else will).
    virtual void takeFocus(QWindow& window) = 0;
    // Puts the window on every desktop, out of the task bar and pager.
    virtual void showOnAllDesktops(QWindow& window) = 0;
};

// The real window system: X11 when Qt runs on xcb, else a stand-in that
// keeps Qt's defaults (input everywhere, no focus hand-back).
std::shared_ptr<PanelWindowSystem> makePanelWindowSystem();

} // namespace tolvex
