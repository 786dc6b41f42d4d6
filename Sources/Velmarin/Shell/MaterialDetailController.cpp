#include "Velmarin/Shell/MaterialDetailController.h"

#include "Velmarin/Shelf/Line.h"

namespace tolvex {

MaterialDetailController::MaterialDetailController(Line& line, MaterialActions& actions, TextEditorController& editor)
    : line_(&line), actions_(actions), editor_(editor)
{
}

QCoro::Task<void> MaterialDetailController::open(QUuid, bool)
{
    co_return;
}

} // namespace tolvex
