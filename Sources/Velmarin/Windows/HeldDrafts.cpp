#include "Velmarin/Windows/HeldDrafts.h"

#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Presentation/BringToFront.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/TextEditorController.h"

namespace tolvex {

QSet<QUuid> HeldDrafts::of(const Markup& markup, const TextEditorController* text, const NoteEditorController* note)
{
    QSet<QUuid> held;
    if (markup.session())
        held.insert(markup.session()->id);
    if (text && text->session())
        held.insert(text->session()->id);
    if (note && note->draft())
        held.insert(note->draft()->id);
    return held;
}

bool HeldDrafts::bringForward(
    const QUuid& id, Markup& markup, const TextEditorController* text, const NoteEditorController* note)
{
    if (markup.session() && markup.session()->id == id)
        return markup.bringEditorForward();
    QWidget* window = nullptr;
    if (text && text->session() && text->session()->id == id)
        window = text->window();
    else if (note && note->draft() && note->draft()->id == id)
        window = note->window();
    if (!window)
        return false;
    bringToFront(window);
    return true;
}

} // namespace tolvex
