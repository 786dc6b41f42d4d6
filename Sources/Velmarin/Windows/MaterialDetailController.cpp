#include "Velmarin/Windows/MaterialDetailController.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Texts/SourceFormatter.h"
#include "Velmarin/Common/ChooserFolders.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Windows/DetailPreview.h"
#include "Velmarin/Windows/EditorFrame.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/MaterialDetailWindow.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QApplication>
#include <QCoro/QCoroFuture>
#include <QFileDialog>
#include <QtConcurrent/QtConcurrentRun>

#include <system_error>

namespace tolvex {

using EditorSupport::text;

namespace {

QLineEdit* makeField()
{
    auto* field = new QLineEdit;
    field->setText(QString());
    return field;
}

} // namespace

MaterialDetailController::MaterialDetailController(
    Line& line, EditorStore& store, DetailActions actions, TextEditorController& editor)
    : line_(line),
      store_(store),
      actions_(std::move(actions)),
      editor_(editor),
      requestID_(QUuid::createUuid()),
      titleField_(makeField()),
      sourceTitle_(makeField()),
      sourceURL_(makeField()),
      sourcePath_(makeField()),
      sourceLocation_(makeField()),
      sourceSummary_(new QLabel),
      sourceProblem_(new QLabel),
      pageKind_(new QComboBox)
{
    countPages = [](const QString& path) { return QtConcurrent::run(pdfPageCount, path); };
    sourceSummary_->setWordWrap(true);
    sourceProblem_->setWordWrap(true);
    sourceProblem_->setObjectName(QStringLiteral("sourceProblem"));
    sourceProblem_->hide();
    // Said until the address is changed again.
    connect(sourceURL_, &QLineEdit::textChanged, sourceProblem_, &QWidget::hide);
    subscription_ = EditorFrame::followPrivacy(line_, [this](bool hidden) { setHidden(hidden); });
    // An editor that saves a new version while the window is open.
    versions_ = line_.snapshot.subscribe([this](const WorkspaceSnapshot& snapshot) { followVersions(snapshot); });
}

MaterialDetailController::~MaterialDetailController()
{
    subscription_.reset();
    versions_.reset();
    closeWindow();
    for (QWidget* control : std::initializer_list<QWidget*>{titleField_, sourceTitle_, sourceURL_, sourcePath_,
             sourceLocation_, sourceSummary_, sourceProblem_, pageKind_})
        delete control;
    if (savingDone_ && !savingDone_->future().isFinished())
        savingDone_->finish();
}

SourceDraft MaterialDetailController::sourceDraft() const
{
    return SourceDraft{
        sourceTitle_->text(), sourceURL_->text(), sourcePath_->text(), sourceLocation_->text(), pageKind_->currentIndex()};
}

bool MaterialDetailController::hasUnsavedChanges() const
{
    if (!materialID_)
        return false;
    return titleField_->text() != savedTitle_ || !savedSource_ || sourceDraft() != *savedSource_;
}

bool MaterialDetailController::releaseFocus()
{
    if (window_ && window_->focusWidget())
        window_->focusWidget()->clearFocus();
    return true;
}

QCoro::Task<void> MaterialDetailController::open(QUuid id, bool present)
{
    const std::uint64_t epoch = line_.privacyEpoch();
    if (line_.isCovered())
        throw StoreError::notFound();
    const QPointer<MaterialDetailController> self(this);
    std::optional<MaterialRecord> record;
    while (true) {
        record.reset();
        for (const MaterialRecord& candidate : line_.snapshot->materials) {
            if (candidate.id == id && candidate.status != MaterialStatus::trashed) {
                record = candidate;
                break;
            }
        }
        if (!record)
            throw StoreError::notFound();
        if (!saving_)
            break;
        // Wait for the save in progress, then look at the material again.
        QFuture<void> saved = savingDone_->future();
        co_await saved;
        if (!self)
            co_return;
    }
    if (!EditorSupport::privacyHolds(line_, epoch))
        co_return;
    if (dismissing_)
        throw StoreError::operationInProgress();
    if (materialID_ == id && window_) {
        // Brought forward where the user left it.
        if (present) {
            window_->show();
            window_->raise();
            window_->activateWindow();
        }
        co_return;
    }
    auto resolving = resolveUnsavedChanges();
    const bool mayGoOn = co_await std::move(resolving);
    if (!self || !mayGoOn)
        co_return;
    if (!EditorSupport::privacyHolds(line_, epoch))
        throw StoreError::invalidSource();

    const QUuid token = QUuid::createUuid();
    requestID_ = token;
    loading_ = true;
    refreshEditability();

    // After each await: a newer load or a cover ends this one.
    enum class Check { current, stale };
    const auto check = [&]() -> Check {
        if (requestID_ != token)
            return Check::stale;
        if (!EditorSupport::privacyHolds(line_, epoch)) {
            loading_ = false;
            refreshEditability();
            throw StoreError::invalidSource();
        }
        return Check::current;
    };
    std::optional<Loaded> loaded;
    try {
        auto loading = DetailPreview::load(store_, *record, [&] { return self && check() == Check::current; });
        loaded = co_await std::move(loading);
    } catch (...) {
        if (self && requestID_ == token) {
            loading_ = false;
            refreshEditability();
        }
        throw;
    }
    if (!self || !loaded)
        co_return;

    closeWindow();
    materialID_ = id;
    fillForm(*record);
    savedTitle_ = titleField_->text();
    savedSource_ = sourceDraft();
    shownVersionID_ = record->activeVersionID;
    previewRequestID_ = QUuid::createUuid();
    buildWindow(*loaded);
    setHidden(line_.isCovered());
    if (present) {
        // Renaming is what the window is opened for most often.
        titleField_->setFocus();
        EditorFrame::present(window_);
    }
    if (requestID_ == token) {
        loading_ = false;
        refreshEditability();
    }
    // A version saved while this load ran.
    followVersions(line_.snapshot());
}

void MaterialDetailController::followVersions(const WorkspaceSnapshot& snapshot)
{
    if (!window_ || !materialID_ || loading_ || presentationHidden_ || snapshot.privacyHidden)
        return;
    const MaterialRecord* record = snapshot.findMaterial(*materialID_);
    if (!record || record->activeVersionID == shownVersionID_)
        return;
    shownVersionID_ = record->activeVersionID;
    perform([record = *record](MaterialDetailController& detail) { return detail.showVersion(record); });
}

QCoro::Task<void> MaterialDetailController::showVersion(MaterialRecord record)
{
    const QPointer<MaterialDetailController> self(this);
    const std::uint64_t epoch = line_.privacyEpoch();
    const QUuid token = QUuid::createUuid();
    previewRequestID_ = token;
    const QPointer<EditorWindow> window = window_;
    const auto current = [this, self, token, window, epoch, id = record.id] {
        return self && previewRequestID_ == token && window_ == window && materialID_ == id
            && EditorSupport::privacyHolds(line_, epoch);
    };
    auto loading = DetailPreview::load(store_, record, current);
    const std::optional<Loaded> loaded = co_await std::move(loading);
    if (!self)
        co_return;
    if (!loaded || !current() || !previewHolder_) {
        // Not shown after all (a cover came): the next snapshot tries again.
        if (previewRequestID_ == token)
            shownVersionID_ = QUuid();
        co_return;
    }
    preview_ = MaterialDetailWindow::replacePreview(previewHolder_, record, loaded->thumbnail, loaded->texts);
}

void MaterialDetailController::fillForm(const MaterialRecord& record)
{
    titleField_->setText(record.title);
    const SourceDraft draft = SourceDraft::of(record.source);
    sourceTitle_->setText(draft.title);
    sourceURL_->setText(draft.url);
    sourcePath_->setText(draft.path);
    sourceProblem_->hide();
    pageKind_->clear();
    pageKind_->addItems({text(MessageKey::pageUnknown), text(MessageKey::physicalPage), text(MessageKey::printedPage)});
    pageKind_->setCurrentIndex(draft.page);
    sourceLocation_->setText(draft.location);
}

QCoro::Task<bool> MaterialDetailController::resolveUnsavedChanges()
{
    releaseFocus();
    if (!hasUnsavedChanges())
        co_return true;
    if (line_.isCovered())
        co_return false;
    const std::uint64_t epoch = line_.privacyEpoch();
    UnsavedChoice choice = UnsavedChoice::continueEditing;
    if (chooseUnsavedChanges) {
        choice = chooseUnsavedChanges();
    } else {
        Alert alert;
        alert.setTitle(text(MessageKey::detailUnsavedTitle));
        alert.setMessage(text(MessageKey::detailUnsavedMessage));
        alert.addButton(text(MessageKey::saveDetails));
        alert.addButton(text(MessageKey::detailDiscard));
        alert.addButton(text(MessageKey::detailContinue));
        const int response = line_.runAlert(alert);
        choice = response == Alert::firstButtonResponse ? UnsavedChoice::save
            : response == Alert::firstButtonResponse + 1 ? UnsavedChoice::discard
                                                         : UnsavedChoice::continueEditing;
    }
    if (!EditorSupport::privacyHolds(line_, epoch))
        co_return false;
    if (choice == UnsavedChoice::discard)
        co_return true;
    if (choice == UnsavedChoice::continueEditing)
        co_return false;
    const QPointer<MaterialDetailController> self(this);
    auto saving = persist(true);
    co_await std::move(saving);
    co_return self && !hasUnsavedChanges() && EditorSupport::privacyHolds(line_, epoch);
}

QCoro::Task<void> MaterialDetailController::persist(bool includeTitle)
{
    const std::uint64_t epoch = line_.privacyEpoch();
    if (!materialID_ || saving_ || loading_ || line_.isCovered())
        throw StoreError::invalidSource();
    const MaterialRecord* record = line_.snapshot->findMaterial(*materialID_);
    if (!record)
        throw StoreError::invalidSource();
    releaseFocus();
    const QUuid id = *materialID_;
    const QString title = titleField_->text();
    const SourceDraft draft = sourceDraft();
    const bool titleChanged = includeTitle && title != savedTitle_;
    const bool sourceChanged = !savedSource_ || draft != *savedSource_;
    const SourceRecord original = record->source;
    // A mistyped address is the user's to mend in the form; the store would
    // only refuse it as a source that changed.
    if (sourceChanged) {
        if (const std::optional<MessageKey> problem = addressProblem(draft.url)) {
            showAddressProblem(*problem);
            co_return;
        }
    }
    const std::optional<QString> countedPath = sourceChanged ? draft.pageCountPath() : std::nullopt;
    // Validated before anything is written: an invalid form saves nothing.
    // A page of a file waits for the file's page count.
    std::optional<SourceRecord> source;
    if (!sourceChanged)
        source = original;
    else if (!countedPath)
        source = validatedSource(draft, original, std::nullopt);

    saving_ = true;
    savingDone_ = std::make_shared<QPromise<void>>();
    savingDone_->start();
    refreshEditability();
    const QPointer<MaterialDetailController> self(this);
    const QPointer<EditorWindow> window = window_;
    try {
        if (!source) {
            // The PDF is opened on the pool: a large or slow file must not
            // stall the window. The form is read-only meanwhile.
            auto counting = awaitResult(countPages(*countedPath));
            const std::optional<int> pageCount = co_await std::move(counting);
            if (!self)
                co_return;
            // The answer counts only for the form that asked, still on show.
            if (materialID_ != id || window_ != window || !EditorSupport::privacyHolds(line_, epoch))
                throw StoreError::invalidSource();
            source = validatedSource(draft, original, pageCount);
        }
        if (titleChanged) {
            auto renaming = apply(MaterialCommand::renameMaterial(id, title));
            co_await std::move(renaming);
            if (!self)
                co_return;
            savedTitle_ = title;
            titleField_->setToolTip(title);
        }
        if (sourceChanged) {
            // The rename stays; the source waits for a privacy that still holds.
            if (!EditorSupport::privacyHolds(line_, epoch))
                throw StoreError::invalidSource();
            auto recording = apply(MaterialCommand::setSource(id, *source));
            co_await std::move(recording);
            if (!self)
                co_return;
            savedSource_ = draft;
            showSummary(*source);
        }
    } catch (...) {
        if (self)
            endSaving();
        throw;
    }
    if (self)
        endSaving();
}

void MaterialDetailController::endSaving()
{
    saving_ = false;
    refreshEditability();
    if (savingDone_ && !savingDone_->future().isFinished())
        savingDone_->finish();
}

void MaterialDetailController::showSummary(const SourceRecord& source)
{
    const QString summary
        = SourceFormatter::describe(source, appLocalizer()).value_or(text(MessageKey::sourceMissing));
    sourceSummary_->setText(summary);
    sourceSummary_->setToolTip(summary);
}

void MaterialDetailController::showAddressProblem(MessageKey problem)
{
    sourceProblem_->setText(text(problem));
    sourceProblem_->show();
    if (sourceDisclosure_ && !sourceDisclosure_->isChecked())
        sourceDisclosure_->click();
    sourceURL_->setFocus();
}

QCoro::Task<void> MaterialDetailController::apply(MaterialCommand command)
{
    const QPointer<MaterialDetailController> self(this);
    auto applying = awaitResult(line_.store().apply(command, Line::maxItems));
    WorkspaceSnapshot snapshot = co_await std::move(applying);
    if (!self)
        co_return;
    // A save never changes the privacy state the line shows.
    snapshot.privacyHidden = line_.isCovered();
    auto rendering = line_.render(snapshot);
    co_await std::move(rendering);
}

QCoro::Task<void> MaterialDetailController::dismiss()
{
    if (saving_ || dismissing_)
        throw StoreError::operationInProgress();
    dismissing_ = true;
    const QPointer<MaterialDetailController> self(this);
    bool mayClose = false;
    try {
        auto resolving = resolveUnsavedChanges();
        mayClose = co_await std::move(resolving);
    } catch (...) {
        if (self)
            dismissing_ = false;
        throw;
    }
    if (!self)
        co_return;
    if (mayClose) {
        requestID_ = QUuid::createUuid();
        loading_ = false;
        materialID_.reset();
        savedSource_.reset();
        closeWindow();
    }
    dismissing_ = false;
}

void MaterialDetailController::chooseSource()
{
    if (line_.isCovered() || !window_)
        return;
    QFileDialog panel(window_);
    NameOnlyFileIconProvider::install(panel);
    panel.setFileMode(QFileDialog::ExistingFile);
    panel.setDirectory(ChooserFolders::documents());
    sourcePanel_ = &panel;
    int response = 0;
    bool cancelled = true;
    {
        ModalRegistration registration(line_, &panel);
        response = panel.exec();
        cancelled = registration.cancelled();
    }
    sourcePanel_.clear();
    if (cancelled || response != QDialog::Accepted || panel.selectedFiles().isEmpty())
        return;
    sourcePath_->setText(panel.selectedFiles().first());
    pageKind_->setCurrentIndex(SourceDraft::noPage);
    sourceLocation_->clear();
}

void MaterialDetailController::refreshEditability()
{
    const bool editable = !presentationHidden_ && !saving_ && !loading_;
    for (QLineEdit* field : {titleField_, sourceTitle_, sourceURL_, sourcePath_, sourceLocation_})
        field->setReadOnly(!editable);
    pageKind_->setEnabled(editable);
    if (saveButton_)
        saveButton_->setEnabled(editable);
    if (chooseButton_)
        chooseButton_->setEnabled(editable);
}

void MaterialDetailController::setHidden(bool hidden)
{
    presentationHidden_ = hidden;
    if (content_)
        content_->setVisible(!hidden);
    if (hiddenLabel_)
        hiddenLabel_->setVisible(hidden);
    if (hidden) {
        requestID_ = QUuid::createUuid();
        loading_ = false;
        if (sourcePanel_)
            sourcePanel_->reject();
        releaseFocus();
    }
    refreshEditability();
    if (window_)
        window_->setWindowTitle(text(hidden ? MessageKey::contentHidden : MessageKey::materialDetails));
}

void MaterialDetailController::perform(std::function<QCoro::Task<void>(MaterialDetailController&)> body)
{
    const QPointer<MaterialDetailController> self(this);
    launchTask(body(*this), [self](std::exception_ptr error) {
        if (self && self->onError)
            self->onError(error);
    });
}

void MaterialDetailController::closeWindow()
{
    if (!window_)
        return;
    // The form's controls outlive every window.
    for (QWidget* control : std::initializer_list<QWidget*>{titleField_, sourceTitle_, sourceURL_, sourcePath_,
             sourceLocation_, sourceSummary_, sourceProblem_, pageKind_})
        control->setParent(nullptr);
    window_->closeNow();
    window_->deleteLater();
    window_.clear();
}

void MaterialDetailController::buildWindow(const Loaded& loaded)
{
    const MaterialRecord& record = loaded.record;
    const QPointer<MaterialDetailController> self(this);
    const QUuid id = record.id;
    const bool isText = record.kind == MaterialKind::text;
    const bool isNote = record.source.origin == ImportOrigin::note;

    MaterialDetailWindow::Actions actions;
    actions.close = [self] {
        if (self)
            self->perform([](MaterialDetailController& detail) { return detail.dismiss(); });
    };
    actions.copy = [self, id, isText] {
        if (self && self->actions_.copy)
            self->perform([id, isText](MaterialDetailController& detail) { return detail.actions_.copy(id, isText); });
    };
    actions.open = [self, id] {
        if (self && self->actions_.open)
            self->perform([id](MaterialDetailController& detail) { return detail.actions_.open(id); });
    };
    actions.edit = [self, id, isNote] {
        if (!self)
            return;
        if (isNote) {
            if (self->line_.onOpenNote)
                self->line_.onOpenNote(id);
            return;
        }
        self->perform([id](MaterialDetailController& detail) { return detail.editor_.open(id, true); });
    };
    actions.chooseSource = [self] {
        if (self)
            self->chooseSource();
    };
    actions.mayDisclose = [self] {
        if (!self || self->presentationHidden_)
            return false;
        self->releaseFocus();
        return true;
    };
    actions.save = [self] {
        if (self)
            self->perform([](MaterialDetailController& detail) { return detail.persist(true); });
    };

    showSummary(record.source);
    const MaterialDetailWindow built = MaterialDetailWindow::build(record, loaded.thumbnail, loaded.texts,
        MaterialDetailWindow::Fields{titleField_, sourceTitle_, sourceURL_, sourcePath_, sourceLocation_,
            sourceSummary_, pageKind_, sourceProblem_},
        std::move(actions));
    window_ = built.window;
    content_ = built.content;
    hiddenLabel_ = built.hiddenLabel;
    preview_ = built.preview;
    previewHolder_ = built.previewHolder;
    saveButton_ = built.saveButton;
    chooseButton_ = built.chooseButton;
    sourceDisclosure_ = built.disclosure;
}

} // namespace tolvex
