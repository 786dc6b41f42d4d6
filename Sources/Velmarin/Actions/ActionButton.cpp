#include "Velmarin/Actions/ActionButton.h"

namespace tolvex {

ActionButton::ActionButton(const QString& title, std::function<void()> handler, QWidget* parent)
    : QPushButton(title, parent), handler_(std::move(handler))
{
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] { invoke(); });
}

void ActionButton::invoke()
{
    if (handler_)
        handler_();
}

} // namespace tolvex
