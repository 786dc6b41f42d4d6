#include "Velmarin/Shell/QuitGate.h"

#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Windows/MaterialDetailController.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/TextEditorController.h"

namespace tolvex {

namespace {

// An alert that only says why the quit did not happen has the one button OK.
int ask(const QuitGate::AlertRunner& runAlert, MessageKey title, std::initializer_list<MessageKey> buttons,
    std::optional<MessageKey> message = std::nullopt)
{
    const Localizer localizer = appLocalizer();
    Alert alert;
    alert.setTitle(localizer.string(title));
    if (message)
        alert.setMessage(localizer.string(*message));
    qsizetype index = 0;
    for (const MessageKey button : buttons) {
        alert.addButton(localizer.string(button));
        // Escape, or closing the alert, keeps the program running.
        if (button == MessageKey::cancel)
            alert.setEscapeButton(index);
        ++index;
    }
    return runAlert(alert);
}

// An editor holding work keeps the program running, unless the store
// refused to save that work: then its text may be discarded (what was last
// saved stays for the recovery window) and the quit goes on.
template <typename Editor>
bool discardAfterRefusal(const QuitGate::AlertRunner& runAlert, MessageKey title, Editor& editor)
{
    if (!editor.canDiscardUnsaved()) {
        ask(runAlert, title, {MessageKey::alertOk});
        return false;
    }
    const int response
        = ask(runAlert, title, {MessageKey::cancel, MessageKey::detailDiscard}, MessageKey::editDiscardMessage);
    return response == Alert::firstButtonResponse + 1 && editor.discardUnsaved();
}

} // namespace

bool QuitGate::requestTermination(const Participants& p, const AlertRunner& runAlert)
{
    if (p.detail) {
        // Asked first, so that a field in the middle of an edit gets the chance to commit it.
        const bool refuses = !p.detail->releaseFocus();
        if (refuses || p.detail->isSaving() || p.detail->hasUnsavedChanges()) {
            ask(runAlert, MessageKey::detailQuitPending, {MessageKey::alertOk});
            return false;
        }
    }
    if (p.noteEditor && p.noteEditor->blocksQuit()
        && !discardAfterRefusal(runAlert, MessageKey::noteSavingQuit, *p.noteEditor))
        return false;
    if (p.textEditor && p.textEditor->isEditing()
        && !discardAfterRefusal(runAlert, MessageKey::textEditingTitle, *p.textEditor))
        return false;
    if (p.markup && p.markup->isEditing) {
        const MessageKey title = p.markup->hasPendingResult ? MessageKey::markupSaveRetained : MessageKey::markupInProgress;
        const bool offerRetry = p.markup->canRetrySaving;
        const int response = offerRetry
            ? ask(runAlert, title, {MessageKey::retryMarkup, MessageKey::cancel, MessageKey::detailDiscard})
            : ask(runAlert, title, {MessageKey::cancel, MessageKey::detailDiscard});
        const int retry = offerRetry ? Alert::firstButtonResponse : -1;
        const int discard = Alert::firstButtonResponse + (offerRetry ? 2 : 1);
        if (response == retry && p.markup->retrySaving)
            p.markup->retrySaving();
        if (response != discard || !p.markup->abandon)
            return false;
        p.markup->abandon();
    }
    if (p.clipboard && p.clipboard->hasUnsavedInput && p.clipboard->hasUnsavedInput()) {
        const int response = ask(runAlert, MessageKey::clipboardPendingQuit,
            {MessageKey::cancel, MessageKey::retryClipboard, MessageKey::quitDiscardingClipboard},
            MessageKey::discardClipboardMessage);
        if (response == Alert::firstButtonResponse + 2) {
            if (!p.clipboard->discardPending || !p.clipboard->discardPending())
                return false;
            if (p.clipboard->stop)
                p.clipboard->stop();
            return true;
        }
        if (response == Alert::firstButtonResponse + 1 && p.clipboard->retryPending)
            p.clipboard->retryPending();
        return false;
    }
    return true;
}

} // namespace tolvex
