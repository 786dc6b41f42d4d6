#pragma once

#include <functional>
#include <memory>

namespace tolvex {

// Every left or right button press anywhere on the X11 display, this
// program's windows included, seen as XInput2 raw events selected on the
// root window. The presentation uses them to tell clicks in the menu-bar
// band. Without X11 or XInput2 it stays silent. GUI thread only.
class X11ButtonPresses {
public:
    // The callback runs on the GUI thread after the event, never inside it.
    explicit X11ButtonPresses(std::function<void()> onPress);
    ~X11ButtonPresses();
    X11ButtonPresses(const X11ButtonPresses&) = delete;
    X11ButtonPresses& operator=(const X11ButtonPresses&) = delete;

    bool isWatching() const;

private:
    class Filter;
    std::unique_ptr<Filter> filter_;
};

} // namespace tolvex
