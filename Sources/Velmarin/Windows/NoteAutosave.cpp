#include "Velmarin/Windows/NoteAutosave.h"

#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Windows/EditorStore.h"

#include <QCoro/QCoroFuture>
#include <QPointer>

namespace tolvex {

NoteAutosave::NoteAutosave(EditorStore& store, std::function<QString()> text, std::function<void(MessageKey)> status)
    : store_(store), text_(std::move(text)), status_(std::move(status))
{
}

NoteAutosave::~NoteAutosave()
{
    if (written_ && !written_->future().isFinished())
        written_->finish();
}

void NoteAutosave::begin(const NoteDraft& draft)
{
    draft_ = draft;
    pendingText_ = draft.text;
}

void NoteAutosave::end()
{
    draft_.reset();
    pendingText_.clear();
}

void NoteAutosave::write()
{
    if (!draft_)
        return;
    pendingText_ = text_();
    if (writing_ || pendingText_ == draft_->text)
        return;
    status_(MessageKey::noteSaving);
    writing_ = true;
    written_ = std::make_shared<QPromise<void>>();
    written_->start();
    launchTask(run(written_), {});
}

QCoro::Task<void> NoteAutosave::run(std::shared_ptr<QPromise<void>> done)
{
    const QPointer<NoteAutosave> self(this);
    while (self && draft_ && pendingText_ != draft_->text) {
        const QUuid remembered = draft_->id;
        auto writing = awaitResult(store_.updateNoteDraft(remembered, pendingText_));
        std::optional<NoteDraft> written;
        try {
            written = co_await std::move(writing);
        } catch (...) {
            if (self) {
                lastError_ = std::current_exception();
                status_(MessageKey::noteSaveFailed);
            }
            break;
        }
        // Another note was opened meanwhile: this result is not its.
        if (!self || !draft_ || draft_->id != remembered)
            break;
        draft_ = *written;
        lastError_ = nullptr;
    }
    if (self) {
        if (!lastError_)
            status_(MessageKey::noteSaved);
        writing_ = false;
    }
    if (!done->future().isFinished())
        done->finish();
}

QCoro::Task<void> NoteAutosave::flush()
{
    const QPointer<NoteAutosave> self(this);
    if (!draft_)
        co_return;
    while (true) {
        write();
        if (writing_ && written_) {
            QFuture<void> ending = written_->future();
            co_await ending;
            if (!self)
                co_return;
        }
        const bool settled = !hasUnsavedText();
        if (settled) {
            lastError_ = nullptr;
            status_(MessageKey::noteSaved);
        }
        if (lastError_)
            std::rethrow_exception(lastError_);
        if (settled)
            co_return;
    }
}

} // namespace tolvex
