#include "Velmarin/Windows/HeldDrafts.h"

#include "Velmarin/Actions/Markup.h"
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

} // namespace tolvex
