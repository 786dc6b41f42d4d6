#pragma once

#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Texts/MessageKey.h"
#include "Velmarin/Common/Published.h"
#include "Velmarin/Windows/EditorWindow.h"
#include "Velmarin/Windows/NoteAutosave.h"

#include <QLabel>
#include <QPushButton>

#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUuid>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>



class QWidget;

namespace tolvex {

class EditorStore;

class Line;
class NoteTextView;

// The note editor: a small window in which a plain-text note is written,
// autosaved into the store's draft as it is typed, and hung on the line
// (a new text material of origin "note", or a new version of the note it
// continues). One per program. GUI thread only.
class NoteEditorController : public QObject {
public:
    // `line` and `store` must outlive the controller.
    NoteEditorController(Line& line, EditorStore& store);
    ~NoteEditorController() override;

    std::function<void(std::exception_ptr)> onError = [](std::exception_ptr) {};
    std::function<void()> onHung = [] {};

    QCoro::Task<void> openNew(bool present);
    QCoro::Task<void> open(QUuid materialID, bool present);
    QCoro::Task<void> resume(NoteDraft draft, bool present);
    QCoro::Task<void> hang();
    QCoro::Task<void> dismiss();
    // Returns once the draft holds the text view's text; throws the write's
    // error when a retry fails too.
    QCoro::Task<void> flushAutosave();
    // The program is being terminated: the text as it stands, a composition
    // included, goes into the draft (the autosave, flushed), where the
    // recovery window finds it; a store busy for a moment is waited for
    // until `deadline`. Nothing without a draft.
    QCoro::Task<void> keepForTermination(QDeadlineTimer deadline);

    // A note is open and its text differs from the stored draft.
    bool hasUnsavedInput() const;
    // Quitting now would lose or interrupt work.
    virtual bool blocksQuit() const { return hasUnsavedInput() || busy() || autosave_.isWriting(); }
    // The last write of the draft was refused (no room, a file error) and
    // none runs now: the unsaved text may be left, so that the user can
    // always leave.
    virtual bool canDiscardUnsaved() const
    {
        return autosave_.draft() && autosave_.failed() && !busy() && !autosave_.isWriting();
    }
    // Closes the note without its unsaved text; the store keeps the draft as
    // last saved, pending. False when there is nothing to discard.
    virtual bool discardUnsaved();
    // When set, asked instead of the alert offering to discard; true discards.
    std::function<bool()> chooseDiscard;
    void setHidden(bool hidden);

    // ---- Inspection ----
    NoteTextView& textView() const { return *textView_; }
    EditorWindow* window() const { return window_; }
    const std::optional<NoteDraft>& draft() const { return autosave_.draft(); }
    MessageKey status() const { return status_; }
    QPushButton* hangButton() const { return hangButton_; }
    bool isPersisting() const { return autosave_.isWriting(); }

private:
    bool busy() const { return opening_ || hanging_ || dismissing_ || confirming_; }
    void beginOpening();
    void endOpening();
    // The store's drafts, once the open note's text is in its own.
    QCoro::Task<QList<NoteDraft>> flushThenListDrafts();
    // Answers the draft to open, or nothing when the editor went away meanwhile.
    using DraftChoice = QCoro::Task<std::optional<NoteDraft>>;
    using DraftChooser = std::function<DraftChoice(NoteEditorController&)>;
    // One way of opening a note: the editor is busy until the chosen draft
    // is installed, and a failure leaves it as it was.
    QCoro::Task<void> openWith(std::uint64_t epoch, bool present, DraftChooser choose);
    void install(const NoteDraft& draft, bool present, std::uint64_t epoch);
    void show(bool present);
    void refreshEditability();
    void buildWindow();
    void setStatus(MessageKey key);
    void textDidChange();
    // The user closes the window: a dismiss; when the draft cannot be
    // written, the user may discard the unsaved text and leave.
    QCoro::Task<void> leave();
    void requestHang();
    void perform(std::function<QCoro::Task<void>(NoteEditorController&)> body);
    void closeWindow();

    Line& line_;
    EditorStore& store_;
    NoteTextView* textView_;
    NoteAutosave autosave_;
    QPointer<EditorWindow> window_;
    bool opening_ = false;
    bool hanging_ = false;
    bool dismissing_ = false;
    // The question whether to discard is open.
    bool confirming_ = false;
    bool presentationHidden_ = false;
    Subscription subscription_;
    QPointer<QWidget> content_;
    QPointer<QLabel> hiddenLabel_;
    QLabel* statusLabel_;
    QLabel* statusIcon_;
    QPointer<QPushButton> hangButton_;
    QLabel* placeholder_ = nullptr;
    QPointer<QLabel> titleLabel_;
    MessageKey status_ = MessageKey::noteSaved;
};

} // namespace tolvex
