#include "Velmarin/Windows/NoteTextView.h"

#include <QKeyEvent>

namespace tolvex {

void NoteTextView::keyPressEvent(QKeyEvent* event)
{
    // The keypad flag is not a modifier the user chose; ignore it.
    const Qt::KeyboardModifiers chosen = event->modifiers()
        & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (returnKey && chosen == Qt::ControlModifier) {
        event->accept();
        onHang();
        return;
    }
    if (event->key() == Qt::Key_Escape && chosen == Qt::NoModifier) {
        event->accept();
        onDismiss();
        return;
    }
    EditorTextView::keyPressEvent(event);
}

} // namespace tolvex
