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
#include "Velmarin/Windows/NoteTextView.h"

#include <QCoro/QCoroFuture>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tolvex {

using EditorSupport::text;

namespace {

constexpr int noteLineHeightPercent = 170;

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
    : line_(line), store_(store), textView_(new NoteTextView), statusLabel_(new QLabel), statusIcon_(new QLabel)
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
    if (persistence_ && !persistence_->future().isFinished())
        persistence_->finish();
}

bool NoteEditorController::hasUnsavedInput() const
{
    return draft_ && textView_->text() != draft_->text;
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
    if (draft_ && !draft_->baseVersionID && !line_.snapshot->findMaterial(draft_->materialID)) {
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
    if (draft_ && draft_->materialID == materialID) {
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
    draft_ = draft;
    pendingText_ = draft.text;
    textView_->replaceText(draft.text);
    textView_->clearUndo();
    // Typing goes on where the note ends.
    textView_->moveCursor(QTextCursor::End);
    lastSaveError_ = nullptr;
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
    if (!draft_ || busy() || line_.isCovered())
        throw StoreError::invalidEdit();
    if (textView_->hasMarkedText())
        throw StoreError::operationInProgress();
    const NoteDraft taken = *draft_;
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
    draft_.reset();
    pendingText_.clear();
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
    draft_.reset();
    pendingText_.clear();
    lastSaveError_ = nullptr;
    closeWindow();
    setStatus(MessageKey::noteSaved);
    return true;
}

void NoteEditorController::requestHang()
{
    perform([](NoteEditorController& editor) -> QCoro::Task<void> {
        if (!editor.draft_ || editor.busy())
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
    if (!draft_)
        return;
    pendingText_ = textView_->text();
    refreshEditability();
    scheduleAutosave();
}

void NoteEditorController::scheduleAutosave()
{
    if (persisting_ || !draft_ || pendingText_ == draft_->text)
        return;
    setStatus(MessageKey::noteSaving);
    persisting_ = true;
    persistence_ = std::make_shared<QPromise<void>>();
    persistence_->start();
    launchTask(runAutosave(persistence_), {});
}

QCoro::Task<void> NoteEditorController::runAutosave(std::shared_ptr<QPromise<void>> done)
{
    const QPointer<NoteEditorController> self(this);
    while (self && draft_ && pendingText_ != draft_->text) {
        const QUuid remembered = draft_->id;
        auto writing = awaitResult(store_.updateNoteDraft(remembered, pendingText_));
        std::optional<NoteDraft> written;
        try {
            written = co_await std::move(writing);
        } catch (...) {
            if (self) {
                lastSaveError_ = std::current_exception();
                setStatus(MessageKey::noteSaveFailed);
            }
            break;
        }
        // Another note was opened meanwhile: this result is not its.
        if (!self || !draft_ || draft_->id != remembered)
            break;
        draft_ = *written;
        lastSaveError_ = nullptr;
    }
    if (self) {
        if (!lastSaveError_)
            setStatus(MessageKey::noteSaved);
        persisting_ = false;
    }
    if (!done->future().isFinished())
        done->finish();
}

QCoro::Task<void> NoteEditorController::flushAutosave()
{
    const QPointer<NoteEditorController> self(this);
    if (!draft_)
        co_return;
    while (true) {
        pendingText_ = textView_->text();
        scheduleAutosave();
        if (persisting_ && persistence_) {
            QFuture<void> ending = persistence_->future();
            co_await ending;
            if (!self)
                co_return;
        }
        const bool settled = !draft_ || textView_->text() == draft_->text;
        if (settled) {
            lastSaveError_ = nullptr;
            setStatus(MessageKey::noteSaved);
        }
        if (lastSaveError_)
            std::rethrow_exception(lastSaveError_);
        if (settled)
            co_return;
    }
}

QCoro::Task<void> NoteEditorController::keepForTermination(QDeadlineTimer deadline)
{
    if (!draft_)
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
    if (hidden && draft_) {
        // What was typed so far goes to the draft before the cover.
        pendingText_ = textView_->text();
        scheduleAutosave();
    }
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
        hangButton_->setText(text(lastSaveError_ ? MessageKey::noteRetryHang : MessageKey::noteHang)
            + QStringLiteral("  Ctrl+\u21B5"));
    }
    if (placeholder_)
        placeholder_->setVisible(current.isEmpty());
}

void NoteEditorController::setStatus(MessageKey key)
{
    status_ = key;
    const bool failure = key == MessageKey::noteSaveFailed || key == MessageKey::feedbackCapacity;
    statusLabel_->setText(text(key));
    QPalette palette = statusLabel_->palette();
    palette.setColor(QPalette::WindowText,
        failure ? QColor(Qt::red) : statusLabel_->palette().color(QPalette::PlaceholderText));
    statusLabel_->setPalette(palette);
    const QStyle::StandardPixmap symbol = failure ? QStyle::SP_MessageBoxWarning
        : key == MessageKey::noteSaving         ? QStyle::SP_BrowserReload
                                                : QStyle::SP_DialogApplyButton;
    statusIcon_->setPixmap(statusIcon_->style()->standardIcon(symbol).pixmap(13, 13));
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
    auto* window = new EditorWindow;
    window->resize(488, 424);
    window->setMinimumSize(420, 320);
    const QPointer<NoteEditorController> self(this);
    window->shouldClose = [self] {
        if (self)
            self->perform([](NoteEditorController& editor) { return editor.leave(); });
        return false;
    };
    window->onResignActive = [self] {
        // The window hides itself, after saving, when it stops being active;
        // the operations' own window changes are not a reason.
        if (self && !self->busy() && self->window_ && self->window_->isVisible())
            self->perform([](NoteEditorController& editor) { return editor.dismiss(); });
    };

    const EditorFrame::Surface surface = EditorFrame::makeSurface(window);
    surface.stack->setSpacing(0);

    auto* column = new QWidget(surface.root);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);

    auto* header = new QWidget(column);
    header->setFixedHeight(54);
    auto* headerLayout = new QHBoxLayout(header);
    auto* titleLabel = new QLabel(text(MessageKey::noteTitle), header);
    QFont titleFont = titleLabel->font();
    titleFont.setPointSize(14);
    titleFont.setWeight(QFont::DemiBold);
    titleLabel->setFont(titleFont);
    headerLayout->addWidget(titleLabel, 0, Qt::AlignCenter);
    columnLayout->addWidget(header);

    auto* content = new QWidget(column);
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    textView_->setFrameShape(QFrame::NoFrame);
    textView_->applyEditorStyle(noteLineHeightPercent);
    textView_->setAccessibleName(text(MessageKey::noteTitle));
    contentLayout->addWidget(textView_, 1);
    if (!placeholder_) {
        placeholder_ = new QLabel(text(MessageKey::notePlaceholder), textView_->viewport());
        placeholder_->setWordWrap(true);
        QFont font = placeholder_->font();
        font.setPointSize(17);
        placeholder_->setFont(font);
        placeholder_->setForegroundRole(QPalette::PlaceholderText);
        placeholder_->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* overlay = new QVBoxLayout(textView_->viewport());
        overlay->setContentsMargins(29, 26, 30, 0);
        overlay->addWidget(placeholder_);
        overlay->addStretch(1);
    }

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    statusIcon_->setFixedSize(13, 13);
    QFont statusFont = statusLabel_->font();
    statusFont.setPointSize(12);
    statusLabel_->setFont(statusFont);
    statusLabel_->setTextFormat(Qt::PlainText);
    row->addWidget(statusIcon_);
    row->addWidget(statusLabel_, 1);
    row->addSpacing(12);
    auto* dismissButton = EditorSupport::actionButton(text(MessageKey::noteDismiss), [self] {
        if (self)
            self->perform([](NoteEditorController& editor) { return editor.leave(); });
    });
    dismissButton->setFlat(true);
    auto* hangButton = EditorSupport::actionButton(QString(), [self] {
        if (self)
            self->requestHang();
    });
    // The text view takes Ctrl+Return itself, so the button binds no keys.
    EditorFrame::makePrimary(hangButton);
    hangButton->setAccessibleName(text(MessageKey::noteHang));
    row->addWidget(dismissButton);
    row->addSpacing(4);
    row->addWidget(hangButton);
    contentLayout->addWidget(EditorFrame::makeFooter(content, row));
    columnLayout->addWidget(content, 1);
    // Takes the room while the content is hidden, so the header stays at
    // the top instead of sinking onto the centred privacy label.
    columnLayout->addStretch(0);

    QLabel* hiddenLabel = EditorFrame::stackWithCover(surface, column);

    window_ = window;
    content_ = content;
    hiddenLabel_ = hiddenLabel;
    hangButton_ = hangButton;
    titleLabel_ = titleLabel;
    refreshEditability();
}

} // namespace tolvex
