#pragma once

#include <functional>
#include <optional>

namespace tolvex {

class Alert;
class MaterialDetailController;
class NoteEditorController;
class TextEditorController;

// The one gate every way of quitting passes (the menus, Ctrl+Q, the session
// manager): it asks each part that can hold unfinished work, in a fixed
// order, and the first that does shows one alert and keeps the program
// running. Pending clipboard input, an open markup session and an editor's
// text that the store refused to save can be discarded to quit anyway: a
// markup editor that never answers, or a full disk, would otherwise keep the
// program from quitting forever.
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
    // The markup session as the gate sees it.
    struct MarkupSession {
        bool isEditing = false;
        bool hasPendingResult = false;
        bool canRetrySaving = false;
        // Started and left running; the gate does not wait for it.
        std::function<void()> retrySaving;
        // Ends the session as cancelled; its working file stays with the store.
        std::function<void()> abandon;
    };
    struct Participants {
        MaterialDetailController* detail = nullptr;
        NoteEditorController* noteEditor = nullptr;
        TextEditorController* textEditor = nullptr;
        std::optional<MarkupSession> markup;
        std::optional<Clipboard> clipboard;
    };
    using AlertRunner = std::function<int(Alert&)>;

    // True when the program may quit now.
    static bool requestTermination(const Participants& participants, const AlertRunner& runAlert);
};

} // namespace tolvex
