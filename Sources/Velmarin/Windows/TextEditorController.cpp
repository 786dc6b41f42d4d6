#include "Velmarin/Windows/TextEditorController.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Common/RetryWhileBusy.h"
#include "Velmarin/Platform/WholeFileReader.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Windows/EditorFrame.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/EditorTextView.h"
#include "Velmarin/Windows/EditorWindow.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace tolvex {

using EditorSupport::text;

TextEditorController::TextEditorController(Line& line, EditorStore& store)
    : line_(line), store_(store), textView_(new EditorTextView)
{
    // A longer text could be saved but never opened again.
    textView_->setMaximumBytes(maximumTextBytes);
    const QPointer<TextEditorController> self(this);
    textView_->onInputRefused = [self] {
        if (self && self->helpLabel_)
            self->helpLabel_->setText(text(MessageKey::feedbackCapacity));
    };
    subscription_ = EditorFrame::followPrivacy(line_, [this](bool hidden) { setHidden(hidden); });
}

TextEditorController::~TextEditorController()
{
    subscription_.reset();
    textView_->setParent(nullptr);
    delete window_.data();
    delete textView_;
}

bool TextEditorController::privacyHolds(std::uint64_t epoch) const
{
    return EditorSupport::privacyHolds(line_, epoch);
}

QCoro::Task<void> TextEditorController::open(QUuid materialID, bool present)
{
    const std::uint64_t epoch = line_.privacyEpoch();
    if (isEditing() || line_.isCovered())
        throw StoreError::invalidEdit();
    const MaterialRecord* record = nullptr;
    for (const MaterialRecord& candidate : line_.snapshot->materials) {
        if (candidate.id == materialID && candidate.kind == MaterialKind::text) {
            record = &candidate;
            break;
        }
    }
    const MaterialVersion* version = record ? record->findVersion(record->activeVersionID) : nullptr;
    // Refused by its recorded size, before the store copies anything.
    if (!version || version->byteCount > maximumTextBytes)
        throw StoreError::invalidEdit();

    auto opening
        = installFrom(store_.createDerivedVersion(materialID, VersionKind::textEdit), present, epoch, std::nullopt);
    co_await std::move(opening);
}

QCoro::Task<void> TextEditorController::resume(EditSession session, bool present)
{
    const std::uint64_t epoch = line_.privacyEpoch();
    if (isEditing() || line_.isCovered())
        throw StoreError::invalidEdit();
    auto opening = installFrom(store_.resumeEditingSession(session), present, epoch, session.baseVersionID);
    co_await std::move(opening);
}

QCoro::Task<void> TextEditorController::installFrom(
    QFuture<EditSession> pending, bool present, std::uint64_t epoch, std::optional<QUuid> requestedBase)
{
    opening_ = true;
    const QPointer<TextEditorController> self(this);
    try {
        auto waiting = awaitResult(std::move(pending));
        const EditSession session = co_await std::move(waiting);
        if (!self)
            co_return;
        const bool recoveredOlderVersion = requestedBase && session.baseVersionID != *requestedBase;
        auto installing = install(session, present, epoch, recoveredOlderVersion);
        co_await std::move(installing);
    } catch (...) {
        if (self)
            opening_ = false;
        throw;
    }
    if (self)
        opening_ = false;
}

QCoro::Task<void> TextEditorController::install(
    EditSession session, bool present, std::uint64_t epoch, bool recoveredOlderVersion)
{
    if (session_ || !privacyHolds(epoch) || session.kind != VersionKind::textEdit)
        throw StoreError::invalidEdit();
    const QPointer<TextEditorController> self(this);

    auto listing = awaitResult(store_.pendingEditSessions());
    const QList<EditSession> pending = co_await std::move(listing);
    if (!self)
        co_return;
    if (!pending.contains(session))
        throw StoreError::invalidEdit();

    // Off the GUI thread: the working file lies on disk like any payload.
    auto reading = awaitResult(QtConcurrent::run(readWholeFile, session.workingURL.toLocalFile(), maximumTextBytes));
    const QByteArray bytes = co_await std::move(reading);
    if (!self)
        co_return;
    if (bytes.size() > maximumTextBytes)
        throw StoreError::invalidEdit();
    const std::optional<QString> decoded = EditorSupport::decodeUtf8(bytes);
    if (!decoded || !privacyHolds(epoch) || session_)
        throw StoreError::invalidEdit();

    textView_->clearUndo();
    session_ = session;
    if (textView_->text() != *decoded)
        textView_->replaceText(*decoded);
    textView_->clearUndo();
    buildWindow(recoveredOlderVersion);
    setHidden(line_.isCovered());
    if (present) {
        EditorFrame::present(window_);
        textView_->setFocus();
    }
}

QCoro::Task<void> TextEditorController::save()
{
    return finish(true);
}

QCoro::Task<void> TextEditorController::cancel()
{
    return finish(false);
}

QCoro::Task<void> TextEditorController::finish(bool keep)
{
    // A cancel works while covered: it only puts the text back into the session.
    if (!session_ || saving_ || (keep && line_.isCovered()))
        throw StoreError::invalidEdit();
    if (textView_->hasMarkedText())
        throw StoreError::operationInProgress();
    const QByteArray data = workingBytes();
    // A version this editor could not open again is never made.
    if (keep && data.size() > maximumTextBytes)
        throw StoreError::invalidEdit();

    saving_ = true;
    setHidden(hidden_);
    const EditSession session = *session_;
    const QPointer<TextEditorController> self(this);
    try {
        auto writing = awaitResult(store_.writeEditingResult(session, data));
        co_await std::move(writing);
        if (!self)
            co_return;
        auto finishing = awaitResult(
            store_.finishEditing(session, keep ? EditResult::save(session.workingURL) : EditResult::cancel()));
        WorkspaceSnapshot snapshot = co_await std::move(finishing);
        if (!self)
            co_return;
        if (keep) {
            snapshot.privacyHidden = line_.isCovered();
            auto rendering = line_.render(snapshot);
            co_await std::move(rendering);
            if (!self)
                co_return;
        }
    } catch (...) {
        if (self) {
            saving_ = false;
            writeRefused_ = true;
            setHidden(hidden_);
        }
        throw;
    }
    endSession();
}

QByteArray TextEditorController::workingBytes() const
{
    return textView_->text().toUtf8();
}

QCoro::Task<void> TextEditorController::keepForTermination(QDeadlineTimer deadline)
{
    if (!session_)
        co_return;
    textView_->endEditing();
    const EditSession session = *session_;
    const QByteArray data = workingBytes();
    EditorStore* store = &store_;
    // Written whatever else runs: a save or cancel under way writes the same
    // text first, and a write the store refused before may pass now.
    std::function<QCoro::Task<void>()> write
        = [store, session, data] { return awaitResult(store->writeEditingResult(session, data)); };
    auto writing = retryWhileBusy(std::move(write), deadline);
    co_await std::move(writing);
}

QCoro::Task<void> TextEditorController::leave()
{
    return EditorSupport::leaveOrDiscard(line_, this, cancel(),
        {[this] { return canDiscardUnsaved(); },
            [this](bool asking) {
                // Nothing else starts while the question is open.
                saving_ = asking;
                setHidden(hidden_);
            },
            [this] { discardUnsaved(); }, chooseDiscard});
}

bool TextEditorController::discardUnsaved()
{
    if (!canDiscardUnsaved())
        return false;
    endSession();
    return true;
}

void TextEditorController::endSession()
{
    textView_->clearUndo();
    session_.reset();
    writeRefused_ = false;
    if (window_) {
        textView_->setParent(nullptr);
        window_->closeNow();
        window_->deleteLater();
        window_.clear();
    }
    saving_ = false;
    setHidden(line_.isCovered());
}

void TextEditorController::setHidden(bool hidden)
{
    hidden_ = hidden;
    if (content_)
        content_->setVisible(!hidden);
    if (hiddenLabel_)
        hiddenLabel_->setVisible(hidden);
    if (hidden && window_ && window_->focusWidget())
        window_->focusWidget()->clearFocus();
    textView_->setReadOnly(hidden || saving_);
    textView_->setTextInteractionFlags(hidden ? Qt::NoTextInteraction
            : saving_                         ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                              : Qt::TextEditorInteraction);
    if (window_)
        window_->setWindowTitle(text(hidden ? MessageKey::contentHidden : MessageKey::textEditorTitle));
}

void TextEditorController::perform(std::function<QCoro::Task<void>(TextEditorController&)> body)
{
    const QPointer<TextEditorController> self(this);
    launchTask(body(*this), [self](std::exception_ptr error) {
        if (self && self->onError)
            self->onError(error);
    });
}

void TextEditorController::buildWindow(bool recoveredOlderVersion)
{
    textView_->setParent(nullptr);
    if (window_)
        window_->deleteLater();

    auto* window = new EditorWindow;
    window->resize(640, 480);
    window->setMinimumSize(420, 300);
    const QPointer<TextEditorController> self(this);
    window->shouldClose = [self] {
        if (!self || !self->session_)
            return true;
        // Closing keeps the text in the session; it asks only when the store refuses it.
        self->perform([](TextEditorController& editor) { return editor.leave(); });
        return false;
    };

    const EditorFrame::Surface surface = EditorFrame::makeSurface(window);

    auto* content = new QWidget(surface.root);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 20, 0, 0);
    column->setSpacing(16);
    auto* help = new QLabel(text(recoveredOlderVersion ? MessageKey::textRecoveryChanged : MessageKey::textEditorHelp));
    help->setWordWrap(true);
    QFont helpFont = help->font();
    helpFont.setPointSize(13);
    help->setFont(helpFont);
    help->setForegroundRole(QPalette::PlaceholderText);
    help->setContentsMargins(24, 0, 24, 0);
    column->addWidget(help);

    textView_->setFrameShape(QFrame::NoFrame);
    textView_->applyEditorStyle(150);
    // Text already present takes the editor's attributes.
    textView_->replaceText(textView_->text());
    textView_->clearUndo();
    column->addWidget(textView_, 1);

    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addStretch(1);
    auto* cancelButton = EditorSupport::actionButton(text(MessageKey::cancel), [self] {
        if (self)
            self->perform([](TextEditorController& editor) { return editor.leave(); });
    });
    auto* saveButton = EditorSupport::actionButton(text(MessageKey::saveCopy), [self] {
        if (self)
            self->perform([](TextEditorController& editor) { return editor.save(); });
    });
    EditorFrame::makePrimary(saveButton, window);
    row->addWidget(cancelButton);
    row->addWidget(saveButton);
    column->addWidget(EditorFrame::makeFooter(content, row));

    QLabel* hiddenLabel = EditorFrame::stackWithCover(surface, content);

    window_ = window;
    content_ = content;
    hiddenLabel_ = hiddenLabel;
    helpLabel_ = help;
    saveButton_ = saveButton;
}

} // namespace tolvex
