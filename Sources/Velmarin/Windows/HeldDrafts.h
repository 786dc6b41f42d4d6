#pragma once

#include <QSet>
#include <QUuid>

#include <functional>

namespace tolvex {

class Markup;
class NoteEditorController;
class TextEditorController;

// The edit sessions and note drafts that open windows hold: the markup
// editor's session, the text editor's session, the note editor's draft.
// What they hold is theirs to end: the recovery window does not discard it
// and the storage cleanup does not propose it.
struct HeldDrafts {
    // Asked at each preview, discard and confirmation, for the windows open then.
    using Source = std::function<QSet<QUuid>()>;
    // Brings the window that holds the session or draft to the front; false
    // when no window holds it.
    using Raiser = std::function<bool(const QUuid&)>;

    // Either editor may be missing (a program without a store).
    static QSet<QUuid> of(const Markup& markup, const TextEditorController* text, const NoteEditorController* note);
    static bool bringForward(
        const QUuid& id, Markup& markup, const TextEditorController* text, const NoteEditorController* note);
};

} // namespace tolvex
