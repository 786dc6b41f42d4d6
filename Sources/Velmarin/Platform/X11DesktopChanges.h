#pragma once

#include <functional>
#include <memory>

namespace tolvex {

// Tells when the current desktop changes or another window becomes active
// (any program's), as the EWMH window manager announces on the root window.
// Silent without X11. GUI thread only.
class X11DesktopChanges {
public:
    // The callback runs on the GUI thread after the event, never inside it.
    explicit X11DesktopChanges(std::function<void()> onChange);
    ~X11DesktopChanges();
    X11DesktopChanges(const X11DesktopChanges&) = delete;
    X11DesktopChanges& operator=(const X11DesktopChanges&) = delete;

private:
    class Filter;
    std::unique_ptr<Filter> filter_;
};

} // namespace tolvex
