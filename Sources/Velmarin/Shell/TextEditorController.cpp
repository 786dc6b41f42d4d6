#include "Velmarin/Shell/TextEditorController.h"

#include "Velmarin/Shelf/Line.h"

namespace tolvex {

TextEditorController::TextEditorController(Line& line) : line_(&line)
{
}

QCoro::Task<void> TextEditorController::open(QUuid, bool)
{
    co_return;
}

QCoro::Task<void> TextEditorController::resume(EditSession, bool)
{
    co_return;
}

} // namespace tolvex
