#pragma once

#include "TolvexCore/Texts/MessageKey.h"

#include <functional>

class QLabel;
class QPushButton;
class QWidget;

namespace tolvex {

class EditorWindow;
class NoteTextView;

// The widgets of the note editor's window: the title, the text with its
// placeholder, and the footer with the status and the dismiss and hang
// buttons, all under the cover a privacy cover shows. It keeps no state:
// the controller keeps the text view and the status across windows and
// lends them to each, and every control calls back into it. GUI thread only.
struct NoteEditorWindow {
    // The controller's widgets, which outlive every window.
    struct Kept {
        NoteTextView* textView = nullptr;
        QLabel* statusIcon = nullptr;
        QLabel* statusLabel = nullptr;
        // Lives in the text view; made with the first window.
        QLabel* placeholder = nullptr;
    };
    // What the window's controls ask of the controller.
    struct Actions {
        // The close button and the dismiss button; the window stays until
        // the controller closes it.
        std::function<void()> leave;
        // The window stopped being the active one.
        std::function<void()> resignActive;
        std::function<void()> hang;
    };

    static NoteEditorWindow build(const Kept& kept, Actions actions);

    // Shows the draft's state in the footer: failures in red with a warning.
    static void showStatus(QLabel& icon, QLabel& label, MessageKey key);

    EditorWindow* window = nullptr;
    // Everything but the title and the cover, hidden while the cover shows.
    QWidget* content = nullptr;
    QLabel* hiddenLabel = nullptr;
    QLabel* titleLabel = nullptr;
    QPushButton* hangButton = nullptr;
    // The kept placeholder, or the one made now.
    QLabel* placeholder = nullptr;
};

} // namespace tolvex
