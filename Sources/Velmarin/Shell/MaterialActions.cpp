#include "Velmarin/Shell/MaterialActions.h"

#include "Velmarin/Shelf/Line.h"

namespace tolvex {

MaterialActions::MaterialActions(Line& line, QUrl root) : line_(&line), root_(std::move(root))
{
}

QCoro::Task<void> MaterialActions::copy(QUuid, bool)
{
    co_return;
}

QCoro::Task<std::shared_ptr<QMimeData>> MaterialActions::dragProvider(Pegged)
{
    co_return std::make_shared<QMimeData>();
}

QCoro::Task<void> MaterialActions::markup(QUuid)
{
    co_return;
}

QCoro::Task<void> MaterialActions::reveal(QUuid)
{
    co_return;
}

} // namespace tolvex
