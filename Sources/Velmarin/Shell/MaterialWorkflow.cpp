#include "Velmarin/Shell/MaterialWorkflow.h"

#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/MaterialDetailController.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/TextEditorController.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include <QPointer>

namespace tolvex {

MaterialWorkflow::MaterialWorkflow(Line& line, const QUrl& dataRoot, MaterialStore* store, Hooks hooks)
    : line_(line), hooks_(std::move(hooks))
{
    const QPointer<MaterialWorkflow> self(this);
    const auto presentError = [self](std::exception_ptr error) {
        if (self && self->hooks_.onError)
            self->hooks_.onError(error);
    };

    actions_ = std::make_unique<MaterialActions>(line_, dataRoot, store);
    actions_->onError = presentError;

    editorStore_ = std::make_unique<MaterialEditorStore>(store);
    textEditor_ = std::make_unique<TextEditorController>(line_, *editorStore_);
    textEditor_->onError = presentError;
    noteEditor_ = std::make_unique<NoteEditorController>(line_, *editorStore_);
    noteEditor_->onError = presentError;
    noteEditor_->onHung = [self] {
        if (self && self->hooks_.showLine)
            self->hooks_.showLine();
    };

    DetailActions detailActions;
    detailActions.copy = [self](QUuid id, bool includeSource) -> QCoro::Task<void> {
        if (!self || !self->actions_)
            throw StoreError::invalidSource();
        auto copying = self->actions_->copy(id, includeSource);
        co_await std::move(copying);
    };
    detailActions.open = [self](QUuid id) -> QCoro::Task<void> {
        if (!self || !self->actions_)
            throw StoreError::invalidSource();
        auto opening = self->actions_->open(id);
        co_await std::move(opening);
    };
    detail_ = std::make_unique<MaterialDetailController>(line_, *editorStore_, detailActions, *textEditor_);
    detail_->onError = presentError;

    recovery_ = std::make_unique<WorkflowRecoveryController>(line_, *actions_);
    recovery_->onError = presentError;
    wireRecovery();
    wireLine();
}

MaterialWorkflow::~MaterialWorkflow()
{
    // Each window lets go of what it holds before what it holds goes.
    recovery_.reset();
    detail_.reset();
    noteEditor_.reset();
    textEditor_.reset();
    actions_.reset();
}

HeldDrafts::Source MaterialWorkflow::heldDrafts() const
{
    return [self = QPointer<const MaterialWorkflow>(this)] {
        return self ? HeldDrafts::of(Markup::shared(), self->textEditor_.get(), self->noteEditor_.get())
                    : QSet<QUuid>();
    };
}

void MaterialWorkflow::launchAction(QCoro::Task<void> task)
{
    if (hooks_.launchAction)
        hooks_.launchAction(std::move(task));
}

void MaterialWorkflow::wireRecovery()
{
    const QPointer<MaterialWorkflow> self(this);
    recovery_->heldDrafts = heldDrafts();
    recovery_->raiseHeld = [self](const QUuid& id) {
        return self && HeldDrafts::bringForward(id, Markup::shared(), self->textEditor_.get(), self->noteEditor_.get());
    };
    recovery_->onResumeText = [self](const EditSession& session) {
        if (self && self->textEditor_)
            self->launchAction(self->textEditor_->resume(session, true));
    };
    recovery_->onPreviewCleanup = [self] {
        if (self && self->hooks_.previewCleanup)
            self->hooks_.previewCleanup();
    };
    recovery_->onResumeNote = [self](const NoteDraft& draft) {
        if (self && self->noteEditor_)
            self->launchAction(self->noteEditor_->resume(draft, true));
    };
}

void MaterialWorkflow::wireLine()
{
    const QPointer<MaterialWorkflow> self(this);
    line_.onPrepareDrag = [self](const Pegged& card) {
        return prepareDrag(self ? self->actions_.get() : nullptr, card);
    };
    line_.newNoteAction = [self] {
        if (self && self->noteEditor_)
            self->launchAction(self->noteEditor_->openNew(true));
    };
    line_.onOpenNote = [self](const QUuid& id) {
        if (self && self->noteEditor_)
            self->launchAction(self->noteEditor_->open(id, true));
    };
    line_.onCopy = [self](const QUuid& id) {
        if (self && self->actions_)
            self->launchAction(self->actions_->copy(id, false));
    };
    line_.onOpen = [self](const QUuid& id) {
        if (self && self->detail_)
            self->launchAction(self->detail_->open(id, true));
    };
    line_.onCopySource = [self](const QUuid& id) {
        if (self && self->actions_)
            self->launchAction(self->actions_->copy(id, true));
    };
    line_.onReveal = [self](const QUuid& id) {
        if (self && self->actions_)
            self->launchAction(self->actions_->reveal(id));
    };
    line_.onMarkup = [self](const QUuid& id) {
        if (!self)
            return;
        const MaterialRecord* record = self->line_.snapshot->findMaterial(id);
        if (record && record->kind == MaterialKind::text && self->textEditor_)
            self->launchAction(self->textEditor_->open(id, true));
        else if (self->actions_)
            self->launchAction(self->actions_->markup(id));
    };
}

QCoro::Task<std::shared_ptr<QMimeData>> MaterialWorkflow::prepareDrag(MaterialActions* actions, Pegged card)
{
    if (!actions)
        throw StoreError::invalidSource();
    auto providing = actions->dragProvider(std::move(card));
    co_return co_await std::move(providing);
}

} // namespace tolvex
