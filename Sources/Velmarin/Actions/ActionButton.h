#pragma once

#include <QPushButton>
#include <QString>

#include <functional>

namespace tolvex {

// The push button of the windows built in code: it runs the closure it was
// made with, once per click, key press or accessibility press. A disabled
// button runs nothing. Handlers capture their owner weakly, and one that
// must not run twice guards itself: the button does not debounce.
class ActionButton final : public QPushButton {
public:
    ActionButton(const QString& title, std::function<void()> handler, QWidget* parent = nullptr);

private:
    void invoke();

    const std::function<void()> handler_;
};

} // namespace tolvex
