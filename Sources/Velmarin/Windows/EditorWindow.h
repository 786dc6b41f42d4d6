#pragma once

#include <QWidget>

#include <functional>

namespace tolvex {

// A top-level window of the editors and the detail window. Its owner
// decides whether a close request closes it (the editors save or ask
// first, then close it themselves), and hears when it stops being the
// active window. Hiding or closing it never deletes it.
class EditorWindow : public QWidget {
public:
    explicit EditorWindow(QWidget* parent = nullptr);

    // Asked on every close request from outside; true lets it close.
    std::function<bool()> shouldClose = [] { return true; };
    std::function<void()> onResignActive = [] {};

    // Closes without asking.
    void closeNow();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool closingNow_ = false;
};

} // namespace tolvex
