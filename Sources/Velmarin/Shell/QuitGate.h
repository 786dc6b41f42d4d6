#pragma once

#include <functional>
#include <optional>

namespace tolvex {

class Alert;
class Markup;
class MaterialDetailController;
class NoteEditorController;
class TextEditorController;

// The one gate every way of quitting passes (the menus, Ctrl+Q, the session
// manager): it asks each part that can hold unfinished work, in a fixed
// order, and the first that does shows one alert and keeps the program
// running. Only pending clipboard input can be discarded to quit anyway.
class QuitGate {
public:
    // The clipboard intake as the gate sees it.
    struct Clipboard {
        std::function<bool()> hasUnsavedInput;
        // False when the input could not be discarded.
        std::function<bool()> discardPending;
        std::function<void()> stop;
        // Started and left running; the gate does not wait for it.
        std::function<void()> retryPending;
    };
    struct Participants {
        MaterialDetailController* detail = nullptr;
        NoteEditorController* noteEditor = nullptr;
        TextEditorController* textEditor = nullptr;
        Markup* markup = nullptr;
        std::optional<Clipboard> clipboard;
    };
    using AlertRunner = std::function<int(Alert&)>;

    // True when the program may quit now.
    static bool requestTermination(const Participants& participants, const AlertRunner& runAlert);
};

} // namespace tolvex
