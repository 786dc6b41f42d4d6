#include "Velmarin/Shell/NoteEditorController.h"

#include "Velmarin/Shelf/Line.h"

namespace tolvex {

NoteEditorController::NoteEditorController(Line& line) : line_(&line)
{
}

QCoro::Task<void> NoteEditorController::openNew(bool)
{
    co_return;
}

QCoro::Task<void> NoteEditorController::open(QUuid, bool)
{
    co_return;
}

QCoro::Task<void> NoteEditorController::resume(NoteDraft, bool)
{
    co_return;
}

} // namespace tolvex
