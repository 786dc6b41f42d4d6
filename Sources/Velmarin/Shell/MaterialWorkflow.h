#pragma once

#include "Velmarin/Shelf/Pegged.h"
#include "Velmarin/Windows/HeldDrafts.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QUrl>

#include <exception>
#include <functional>
#include <memory>

class QMimeData;

namespace tolvex {

class EditorStore;
class Line;
class MaterialActions;
class MaterialDetailController;
class MaterialStore;
class NoteEditorController;
class TextEditorController;
class WorkflowRecoveryController;

// The windows and actions over a loaded workspace: the material actions,
// the two editors over one editor store, the detail window and the recovery
// window, wired to one another and to what the line's cards ask for (copy,
// open, reveal, markup, a drag, a note). The delegate makes one at each
// load, a restore's included. Every callback it hands out holds it weakly.
// GUI thread only.
class MaterialWorkflow final : public QObject {
public:
    struct Hooks {
        // Runs an action's task; its failure goes to the action alert.
        std::function<void(QCoro::Task<void>)> launchAction;
        std::function<void(std::exception_ptr)> onError;
        // The note editor hung: the line comes forward.
        std::function<void()> showLine;
        // The recovery window's staging preview: the storage page and its cleanup preview.
        std::function<void()> previewCleanup;
    };

    // Without a store (a line over another) every store call fails with
    // invalidSource. `line` must outlive the workflow.
    MaterialWorkflow(Line& line, const QUrl& dataRoot, MaterialStore* store, Hooks hooks);
    ~MaterialWorkflow() override;

    // What the open editors and the markup session hold; nothing once the
    // workflow is gone.
    HeldDrafts::Source heldDrafts() const;

    MaterialActions* actions() const { return actions_.get(); }
    TextEditorController* textEditor() const { return textEditor_.get(); }
    NoteEditorController* noteEditor() const { return noteEditor_.get(); }
    MaterialDetailController* detail() const { return detail_.get(); }
    WorkflowRecoveryController* recovery() const { return recovery_.get(); }

private:
    // Fails when the workflow's actions are gone.
    static QCoro::Task<std::shared_ptr<QMimeData>> prepareDrag(MaterialActions* actions, Pegged card);
    void wireRecovery();
    void wireLine();
    void launchAction(QCoro::Task<void> task);

    Line& line_;
    Hooks hooks_;
    std::unique_ptr<MaterialActions> actions_;
    std::unique_ptr<EditorStore> editorStore_;
    std::unique_ptr<TextEditorController> textEditor_;
    std::unique_ptr<NoteEditorController> noteEditor_;
    std::unique_ptr<MaterialDetailController> detail_;
    std::unique_ptr<WorkflowRecoveryController> recovery_;
};

} // namespace tolvex
