#pragma once

#include "TolvexCore/Store/StorageCleanupPlan.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;

namespace tolvex {

class IntakeSettingsModel;

// The cleanup sheet: a window-modal dialog over the settings window listing
// what a confirmation would move to the Trash (every target but unfinished
// work ticked at first) and the staging files needing attention. Its rows
// come from the plan it was opened with; what is ticked, the summary and
// the buttons follow the model. A material waiting for its unfinished
// drafts shows unticked and cannot be ticked until they are. Escape cancels unless a cleanup runs; Return confirms
// while confirming is possible.
class CleanupPreviewView final : public QDialog {
public:
    // Rows of the list in view at once, when there are as many.
    static constexpr int visibleRows = 5;

    CleanupPreviewView(IntakeSettingsModel& model, StorageCleanupPlan plan, QWidget* parent);

    void sync();
    // Closes without asking the model (it already put the sheet down).
    void dismiss();

    QPushButton* confirmButton() const { return confirm_; }
    QPushButton* cancelButton() const { return cancel_; }
    QLabel* summary() const { return summary_; }
    const QList<QCheckBox*>& checkboxes() const { return checks_; }

    void reject() override;

    QScrollArea* list() const { return list_; }

private:
    // Room the window manager's title bar takes above the dialog.
    static constexpr int titleBarRoom = 60;

    void fitHeight();

    IntakeSettingsModel& model_;
    const StorageCleanupPlan plan_;
    QLabel* summary_ = nullptr;
    QLabel* stagingSummary_ = nullptr;
    QLabel* message_ = nullptr;
    QProgressBar* spinner_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* confirm_ = nullptr;
    QList<QCheckBox*> checks_;
    QList<QPushButton*> exports_;
    QScrollArea* list_ = nullptr;
    int rowHeight_ = 0;
    int listHeight_ = 0;
};

} // namespace tolvex
