#include "Velmarin/Shelf/ClosureMenuItem.h"

namespace tolvex {

ClosureMenuItem::ClosureMenuItem(const QString& title, std::function<void()> handler, QObject* parent)
    : QAction(title, parent), handler_(std::move(handler))
{
    connect(this, &QAction::triggered, this, [this] { fire(); });
}

void ClosureMenuItem::fire()
{
    if (handler_)
        handler_();
}

} // namespace tolvex
