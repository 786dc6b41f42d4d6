#include "Velmarin/Windows/NoteEditorController.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Common/RetryWhileBusy.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Windows/EditorFrame.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/EditorWindow.h"
#include "Velmarin/Windows/NoteEditorWindow.h"
#include "Velmarin/Windows/NoteTextView.h"

#include <QLabel>
#include <QPushButton>

namespace tolvex {

using EditorSupport::text;

namespace {

bool isBlank(const QString& value)
{
    return value.trimmed().isEmpty();
}

// A plain coroutine, so that the retry's callback captures nothing a
// coroutine frame would have to outlive.
QCoro::Task<void> flushOf(QPointer<NoteEditorController> editor)
{
    if (!editor)
        co_return;
    auto flushing = editor->flushAutosave();
    co_await std::move(flushing);
}

} // namespace

NoteEditorController::NoteEditorController(Line& line, EditorStore& store)
    : line_(line),
      store_(store),
      textView_(new NoteTextView),
      autosave_(store, [this] { return textView_->text(); }, [this](MessageKey key) { setStatus(key); }),
      statusLabel_(new QLabel),
      statusIcon_(new QLabel)
{
    const QPointer<NoteEditorController> self(this);
    textView_->onDismiss = [self] {
        if (self)
            self->perform([](NoteEditorController& editor) { return editor.leave(); });
    };
    textView_->onHang = [self] {
        if (self)
            self->requestHang();
    };
    // The draft on disk must always hold what the window shows: input the
    // store would refuse never enters the text.
    textView_->setMaximumBytes(NoteDraft::maximumTextBytes);
    textView_->onInputRefused = [self] {
        if (self)
            self->setStatus(MessageKey::feedbackCapacity);
    };
    textView_->onMarkedTextChanged = [self] {
        if (self)
            self->refreshEditability();
    };
    QObject::connect(textView_, &QTextEdit::textChanged, this, [this] { textDidChange(); });
    subscription_ = EditorFrame::followPrivacy(line_, [this](bool hidden) { setHidden(hidden); });
}

NoteEditorController::~NoteEditorController()
{
    subscription_.reset();
    QObject::disconnect(textView_, nullptr, this, nullptr);
    for (QWidget* kept : {static_cast<QWidget*>(textView_), static_cast<QWidget*>(statusLabel_),
             static_cast<QWidget*>(statusIcon_)})
        kept->setParent(nullptr);
    delete window_.data();
    delete textView_;
    delete statusLabel_;
    delete statusIcon_;
}

bool NoteEditorController::hasUnsavedInput() const
{
    return autosave_.hasUnsavedText();
}

void NoteEditorController::beginOpening()
{
    if (busy() || line_.isCovered() || textView_->hasMarkedText())
        throw StoreError::operationInProgress();
    opening_ = true;
    refreshEditability();
}

void NoteEditorController::endOpening()
{
    opening_ = false;
    refreshEditability();
}

QCoro::Task<QList<NoteDraft>> NoteEditorController::flushThenListDrafts()
{
    const QPointer<NoteEditorController> self(this);
    auto flushing = flushAutosave();
    co_await std::move(flushing);
    if (!self)
        co_return {};
    auto listing = awaitResult(store_.pendingNoteDrafts());
    co_return co_await std::move(listing);
}

QCoro::Task<void> NoteEditorController::openWith(std::uint64_t epoch, bool present, DraftChooser choose)
{
    beginOpening();
    const QPointer<NoteEditorController> self(this);
    try {
        auto choosing = choose(*this);
        const std::optional<NoteDraft> chosen = co_await std::move(choosing);
        if (!self)
            co_return;
        if (chosen)
            install(*chosen, present, epoch);
    } catch (...) {
        if (self)
            endOpening();
        throw;
    }
    endOpening();
}

QCoro::Task<void> NoteEditorController::openNew(bool present)
{
    const std::uint64_t epoch = line_.privacyEpoch();
    if (busy() || line_.isCovered())
        throw StoreError::operationInProgress();
    // An unpublished new note comes back as it was, dismissed or not.
    const std::optional<NoteDraft>& draft = autosave_.draft();
    if (draft && !draft->baseVersionID && !line_.snapshot->findMaterial(draft->materialID)) {
        show(present);
        co_return;
    }
    auto opening = openWith(epoch, present, [](NoteEditorController& editor) -> DraftChoice {
        const QPointer<NoteEditorController> self(&editor);
        auto listing = editor.flushThenListDrafts();
        const QList<NoteDraft> pending = co_await std::move(listing);
        if (!self)
            co_return std::nullopt;
        for (const NoteDraft& candidate : pending) {
            if (!editor.line_.snapshot->findMaterial(candidate.materialID))
                co_return candidate;
        }
        auto creating = awaitResult(editor.store_.createNoteDraft(std::nullopt));
        co_return co_await std::move(creating);
    });
    co_await std::move(opening);
}

QCoro::Task<void> NoteEditorController::open(QUuid materialID, bool present)
{
    const std::uint64_t epoch = line_.privacyEpoch();
    if (busy() || line_.isCovered())
        throw StoreError::operationInProgress();
    if (autosave_.draft() && autosave_.draft()->materialID == materialID) {
        show(present);
        co_return;
    }
    auto opening = openWith(epoch, present, [materialID](NoteEditorController& editor) -> DraftChoice {
        const QPointer<NoteEditorController> self(&editor);
        auto flushing = editor.flushAutosave();
        co_await std::move(flushing);
        if (!self)
            co_return std::nullopt;
        auto creating = awaitResult(editor.store_.createNoteDraft(materialID));
        co_return co_await std::move(creating);
    });
    co_await std::move(opening);
}

QCoro::Task<void> NoteEditorController::resume(NoteDraft draft, bool present)
{
    const std::uint64_t epoch = line_.privacyEpoch();
    const QUuid id = draft.id;
    auto opening = openWith(epoch, present, [id](NoteEditorController& editor) -> DraftChoice {
        const QPointer<NoteEditorController> self(&editor);
        auto listing = editor.flushThenListDrafts();
        const QList<NoteDraft> pending = co_await std::move(listing);
        if (!self)
            co_return std::nullopt;
        // The store's copy: the argument may be older than what was autosaved.
        for (const NoteDraft& candidate : pending) {
            if (candidate.id == id)
                co_return candidate;
        }
        throw StoreError::invalidEdit();
    });
    co_await std::move(opening);
}

void NoteEditorController::install(const NoteDraft& draft, bool present, std::uint64_t epoch)
{
    if (!EditorSupport::privacyHolds(line_, epoch))
        throw StoreError::invalidSource();
    textView_->clearUndo();
    autosave_.begin(draft);
    textView_->replaceText(draft.text);
    textView_->clearUndo();
    // Typing goes on where the note ends.
    textView_->moveCursor(QTextCursor::End);
    autosave_.forgetFailure();
    if (!window_)
        buildWindow();
    setStatus(MessageKey::noteSaved);
    setHidden(false);
    show(present);
}

void NoteEditorController::show(bool present)
{
    if (!present || !window_)
        return;
    EditorFrame::present(window_);
    textView_->setFocus();
}

QCoro::Task<void> NoteEditorController::dismiss()
{
    if (busy())
        throw StoreError::operationInProgress();
    dismissing_ = true;
    refreshEditability();
    const QPointer<NoteEditorController> self(this);
    try {
        auto flushing = flushAutosave();
        co_await std::move(flushing);
    } catch (...) {
        if (self) {
            dismissing_ = false;
            refreshEditability();
        }
        throw;
    }
    if (!self)
        co_return;
    if (window_)
        window_->hide();
    dismissing_ = false;
    refreshEditability();
}

QCoro::Task<void> NoteEditorController::hang()
{
    const std::uint64_t epoch = line_.privacyEpoch();
    if (!autosave_.draft() || busy() || line_.isCovered())
        throw StoreError::invalidEdit();
    if (textView_->hasMarkedText())
        throw StoreError::operationInProgress();
    const NoteDraft taken = *autosave_.draft();
    hanging_ = true;
    refreshEditability();
    const QPointer<NoteEditorController> self(this);
    WorkspaceSnapshot published;
    try {
        auto flushing = flushAutosave();
        co_await std::move(flushing);
        if (!self)
            co_return;
        if (!EditorSupport::privacyHolds(line_, epoch))
            throw StoreError::invalidSource();
        auto publishing = awaitResult(store_.publishNoteDraft(taken.id, Line::maxItems));
        published = co_await std::move(publishing);
    } catch (...) {
        if (self) {
            hanging_ = false;
            refreshEditability();
        }
        throw;
    }
    if (!self)
        co_return;
    published.privacyHidden = line_.isCovered();
    auto rendering = line_.render(published);
    co_await std::move(rendering);
    if (!self)
        co_return;
    autosave_.end();
    closeWindow();
    if (EditorSupport::privacyHolds(line_, epoch))
        onHung();
    hanging_ = false;
    refreshEditability();
}

QCoro::Task<void> NoteEditorController::leave()
{
    return EditorSupport::leaveOrDiscard(line_, this, dismiss(),
        {[this] { return canDiscardUnsaved(); },
            [this](bool asking) {
                // Busy while asked: no other note opens meanwhile.
                confirming_ = asking;
                refreshEditability();
            },
            [this] { discardUnsaved(); }, chooseDiscard});
}

bool NoteEditorController::discardUnsaved()
{
    if (!canDiscardUnsaved())
        return false;
    autosave_.end();
    autosave_.forgetFailure();
    closeWindow();
    setStatus(MessageKey::noteSaved);
    return true;
}

void NoteEditorController::requestHang()
{
    perform([](NoteEditorController& editor) -> QCoro::Task<void> {
        if (!editor.autosave_.draft() || editor.busy())
            co_return;
        auto hanging = editor.hang();
        co_await std::move(hanging);
    });
}

void NoteEditorController::perform(std::function<QCoro::Task<void>(NoteEditorController&)> body)
{
    const QPointer<NoteEditorController> self(this);
    launchTask(body(*this), [self](std::exception_ptr error) {
        if (!self)
            return;
        try {
            std::rethrow_exception(error);
        } catch (const StoreError& refusal) {
            // The store's refusal of a blank note is a status, never an alert.
            if (refusal.code() == StoreError::Code::invalidSource && isBlank(self->textView_->text())) {
                self->setStatus(MessageKey::noteBlank);
                return;
            }
        } catch (...) {
        }
        self->onError(error);
    });
}

void NoteEditorController::textDidChange()
{
    if (!autosave_.draft())
        return;
    refreshEditability();
    autosave_.write();
}

QCoro::Task<void> NoteEditorController::flushAutosave()
{
    return autosave_.flush();
}

QCoro::Task<void> NoteEditorController::keepForTermination(QDeadlineTimer deadline)
{
    if (!autosave_.draft())
        co_return;
    textView_->endEditing();
    const QPointer<NoteEditorController> self(this);
    std::function<QCoro::Task<void>()> flush = [self] { return flushOf(self); };
    auto flushing = retryWhileBusy(std::move(flush), deadline);
    co_await std::move(flushing);
}

void NoteEditorController::setHidden(bool hidden)
{
    presentationHidden_ = hidden;
    // What was typed so far goes to the draft before the cover.
    if (hidden)
        autosave_.write();
    if (content_)
        content_->setVisible(!hidden);
    if (hiddenLabel_)
        hiddenLabel_->setVisible(hidden);
    const QString title = text(hidden ? MessageKey::contentHidden : MessageKey::noteTitle);
    if (window_)
        window_->setWindowTitle(title);
    if (titleLabel_)
        titleLabel_->setText(title);
    if (hidden && window_ && window_->focusWidget())
        window_->focusWidget()->clearFocus();
    if (!hidden && window_ && window_->isActiveWindow())
        textView_->setFocus();
    refreshEditability();
}

void NoteEditorController::refreshEditability()
{
    const bool editable = !presentationHidden_ && !busy();
    textView_->setReadOnly(!editable);
    textView_->setTextInteractionFlags(presentationHidden_ ? Qt::NoTextInteraction
            : editable                                    ? Qt::TextEditorInteraction
                                                          : Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    const QString current = textView_->text();
    if (hangButton_) {
        hangButton_->setEnabled(editable && !isBlank(current) && !textView_->hasMarkedText());
        hangButton_->setText(text(autosave_.failed() ? MessageKey::noteRetryHang : MessageKey::noteHang)
            + QStringLiteral("  Ctrl+\u21B5"));
    }
    if (placeholder_)
        placeholder_->setVisible(current.isEmpty());
}

void NoteEditorController::setStatus(MessageKey key)
{
    status_ = key;
    NoteEditorWindow::showStatus(*statusIcon_, *statusLabel_, key);
    refreshEditability();
}

void NoteEditorController::closeWindow()
{
    if (!window_)
        return;
    for (QWidget* kept : {static_cast<QWidget*>(textView_), static_cast<QWidget*>(statusLabel_),
             static_cast<QWidget*>(statusIcon_)})
        kept->setParent(nullptr);
    window_->closeNow();
    window_->deleteLater();
    window_.clear();
}

void NoteEditorController::buildWindow()
{
    const QPointer<NoteEditorController> self(this);
    const auto leave = [self] {
        if (self)
            self->perform([](NoteEditorController& editor) { return editor.leave(); });
    };
    const NoteEditorWindow built = NoteEditorWindow::build({textView_, statusIcon_, statusLabel_, placeholder_},
        {
            .leave = leave,
            .resignActive =
                [self] {
                    // The window hides itself, after saving, when it stops being active;
                    // the operations' own window changes are not a reason.
                    if (self && !self->busy() && self->window_ && self->window_->isVisible())
                        self->perform([](NoteEditorController& editor) { return editor.dismiss(); });
                },
            .hang =
                [self] {
                    if (self)
                        self->requestHang();
                },
        });
    window_ = built.window;
    content_ = built.content;
    hiddenLabel_ = built.hiddenLabel;
    hangButton_ = built.hangButton;
    titleLabel_ = built.titleLabel;
    placeholder_ = built.placeholder;
    refreshEditability();
}

} // namespace tolvex
