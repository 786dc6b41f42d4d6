#pragma once

#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Texts/MessageKey.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPromise>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tolvex {

class EditorStore;

// Keeps the store's draft of the open note up to date with the note's text.
// It has no timer: every change starts a write unless one is in flight, and
// the one in flight writes again until the draft holds the newest text, so
// writes of a draft are sequential and the newest text is written last.
// GUI thread only.
class NoteAutosave : public QObject {
public:
    // `text`: the note's text as the window shows it now. `status` is told
    // the draft's state (saving, saved, failed) each time it is decided.
    // `store` must outlive the autosave.
    NoteAutosave(EditorStore& store, std::function<QString()> text, std::function<void(MessageKey)> status);
    ~NoteAutosave() override;

    // The draft as the store last answered it; none while no note is open.
    const std::optional<NoteDraft>& draft() const { return draft_; }
    // The text differs from the draft's.
    bool hasUnsavedText() const { return draft_ && text_() != draft_->text; }
    bool isWriting() const { return writing_; }
    // The last write was refused (no room, a file error).
    bool failed() const { return static_cast<bool>(lastError_); }

    // The note `draft` opens; its text is the text written so far.
    void begin(const NoteDraft& draft);
    // No note is open any more; a write in flight finds that and stops.
    void end();
    void forgetFailure() { lastError_ = nullptr; }

    // The text as it stands goes to the draft: now, or after the write in flight.
    void write();
    // Returns once the draft holds the text; throws the write's error when a
    // retry fails too.
    QCoro::Task<void> flush();

private:
    QCoro::Task<void> run(std::shared_ptr<QPromise<void>> done);

    EditorStore& store_;
    std::function<QString()> text_;
    std::function<void(MessageKey)> status_;
    std::optional<NoteDraft> draft_;
    // The text the write in flight, or the next one, takes.
    QString pendingText_;
    bool writing_ = false;
    std::shared_ptr<QPromise<void>> written_;
    std::exception_ptr lastError_;
};

} // namespace tolvex
