#include "Velmarin/Shell/Markup.h"

namespace tolvex {

Markup& Markup::shared()
{
    static Markup session;
    return session;
}

QCoro::Task<void> Markup::retrySaving()
{
    co_return;
}

} // namespace tolvex
