#pragma once

#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "Velmarin/Common/Published.h"
#include "Velmarin/Windows/DetailPreview.h"
#include "Velmarin/Windows/EditorWindow.h"
#include "Velmarin/Windows/SourceForm.h"

#include <QCoro/QCoroTask>
#include <QComboBox>
#include <QFuture>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QPushButton>
#include <QUrl>
#include <QUuid>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QFileDialog;

namespace tolvex {

class EditorStore;
class Line;
class TextEditorController;

// The copy and open actions of the detail window's action row.
struct DetailActions {
    std::function<QCoro::Task<void>(QUuid, bool includeSource)> copy;
    std::function<QCoro::Task<void>(QUuid)> open;
};

// The material detail window: one material's title, preview, actions,
// source description and source form. It keeps which values were last
// saved, saves the title before the source, asks before unsaved edits are
// dropped and follows the privacy cover. One per program. GUI thread only.
class MaterialDetailController : public QObject {
public:
    enum class UnsavedChoice { save, discard, continueEditing };

    // `line`, `store` and `editor` must outlive the controller.
    MaterialDetailController(Line& line, EditorStore& store, DetailActions actions, TextEditorController& editor);
    ~MaterialDetailController() override;

    std::function<void(std::exception_ptr)> onError = [](std::exception_ptr) {};
    // When set, asked instead of showing the unsaved-changes alert.
    std::function<UnsavedChoice()> chooseUnsavedChanges;
    // Answers, off the GUI thread, what pdfPageCount answers for a path.
    std::function<QFuture<std::optional<int>>(const QString& path)> countPages;

    QCoro::Task<void> open(QUuid id, bool present);
    QCoro::Task<void> dismiss();
    // The save button's work.
    QCoro::Task<void> persist(bool includeTitle);
    void setHidden(bool hidden);

    // ---- What the quit check asks ----
    virtual bool hasUnsavedChanges() const;
    virtual bool isSaving() const { return saving_; }
    // Ends any edit in progress in the window; the line edits keep their
    // text as typed, so this never refuses.
    virtual bool releaseFocus();

    // ---- Inspection ----
    EditorWindow* window() const { return window_; }
    const std::optional<QUuid>& materialID() const { return materialID_; }
    QLineEdit& titleField() const { return *titleField_; }
    QLineEdit& sourceTitle() const { return *sourceTitle_; }
    QLineEdit& sourceURL() const { return *sourceURL_; }
    QLineEdit& sourcePath() const { return *sourcePath_; }
    QLineEdit& sourceLocation() const { return *sourceLocation_; }
    QComboBox& pageKind() const { return *pageKind_; }
    QLabel& sourceSummary() const { return *sourceSummary_; }
    // What is wrong with the typed web address; hidden while nothing is.
    QLabel& sourceProblem() const { return *sourceProblem_; }
    QWidget* preview() const { return preview_; }
    QPushButton* saveButton() const { return saveButton_; }

    // What one build shows, gathered by the load.
    using Loaded = DetailPreview::Loaded;

private:
    SourceDraft sourceDraft() const;
    // The window follows the material's versions while it is open.
    void followVersions(const WorkspaceSnapshot& snapshot);
    QCoro::Task<void> showVersion(MaterialRecord record);
    QCoro::Task<bool> resolveUnsavedChanges();
    void refreshEditability();
    void chooseSource();
    QCoro::Task<void> apply(MaterialCommand command);
    void perform(std::function<QCoro::Task<void>(MaterialDetailController&)> body);
    void fillForm(const MaterialRecord& record);
    void buildWindow(const Loaded& loaded);
    void closeWindow();
    void endSaving();
    void showSummary(const SourceRecord& source);
    // Says beside the web address what is wrong with it, with the form open.
    void showAddressProblem(MessageKey problem);

    Line& line_;
    EditorStore& store_;
    DetailActions actions_;
    TextEditorController& editor_;

    QString savedTitle_;
    std::optional<SourceDraft> savedSource_;
    bool presentationHidden_ = false;
    bool saving_ = false;
    bool dismissing_ = false;
    bool loading_ = false;
    std::shared_ptr<QPromise<void>> savingDone_;
    QPointer<QPushButton> saveButton_;
    QPointer<QPushButton> chooseButton_;
    QPointer<QAbstractButton> sourceDisclosure_;
    QPointer<QFileDialog> sourcePanel_;
    QPointer<EditorWindow> window_;
    Subscription subscription_;
    Subscription versions_;
    QUuid shownVersionID_;
    QUuid previewRequestID_;
    QPointer<QWidget> previewHolder_;
    std::optional<QUuid> materialID_;
    QUuid requestID_;
    QPointer<QWidget> content_;
    QPointer<QLabel> hiddenLabel_;
    QPointer<QWidget> preview_;
    QLineEdit* titleField_;
    QLineEdit* sourceTitle_;
    QLineEdit* sourceURL_;
    QLineEdit* sourcePath_;
    QLineEdit* sourceLocation_;
    QLabel* sourceSummary_;
    QLabel* sourceProblem_;
    QComboBox* pageKind_;
};

} // namespace tolvex
