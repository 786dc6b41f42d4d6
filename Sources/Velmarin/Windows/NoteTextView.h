#pragma once

#include "Velmarin/Windows/EditorTextView.h"

#include <functional>

namespace tolvex {

// The note editor's text view: Ctrl+Return or Ctrl+keypad Enter hangs the
// note, Escape dismisses the window. Any other modifier with Return is an
// ordinary key press.
class NoteTextView final : public EditorTextView {
public:
    explicit NoteTextView(QWidget* parent = nullptr) : EditorTextView(parent) {}

    std::function<void()> onDismiss = [] {};
    std::function<void()> onHang = [] {};

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace tolvex
