#pragma once

#include "Velmarin/Windows/StorageCleanupPreview.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTabBar;

namespace tolvex {

class HotKey;
class IntakeSettingsModel;
class SettingsIntakePage;
class SettingsStoragePage;

// The settings window's content: the page picker, the two pages in a
// scroll area, and the footer with the preferences' save status. It keeps
// no state of its own but the page it shows: on every change of the model it brings the pages in
// line and puts the cleanup sheet up or down.
class IntakeSettingsView final : public QWidget {
public:
    IntakeSettingsView(IntakeSettingsModel& model, HotKey* hotKey, int spacing, QWidget* parent = nullptr);

    void sync();

    QTabBar* picker() const { return picker_; }
    SettingsIntakePage* intakePage() const { return intake_; }
    SettingsStoragePage* storagePage() const { return storage_; }
    QLabel* saveStatus() const { return status_; }
    QPushButton* saveRetry() const { return retry_; }
    CleanupPreviewView* sheet() const { return sheet_; }
    QScrollArea* pageScroll() const { return scroll_; }

private:
    IntakeSettingsModel& model_;
    QTabBar* picker_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    // The page shown last; another one opens at its top.
    int shownPage_ = -1;
    SettingsIntakePage* intake_ = nullptr;
    SettingsStoragePage* storage_ = nullptr;
    QLabel* failureIcon_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* retry_ = nullptr;
    QPointer<CleanupPreviewView> sheet_;
};

} // namespace tolvex
