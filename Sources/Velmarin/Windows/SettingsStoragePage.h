#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace tolvex {

class IntakeSettingsModel;

// The settings window's second page: where the library lives, how much room
// its folders take, and the way into storage cleanup. It deletes nothing
// itself. Built once and brought in line with the model by sync().
class SettingsStoragePage final : public QWidget {
public:
    SettingsStoragePage(IntakeSettingsModel& model, int spacing, QWidget* parent = nullptr);

    void sync();

    QLabel* total() const { return total_; }
    // Materials, exports, and drafts with staging and cleanup records.
    QLabel* usageValue(int row) const { return usageValues_[row]; }
    bool showsUsage() const;
    QLabel* cleanupMessage() const { return message_; }

private:
    IntakeSettingsModel& model_;
    QLabel* total_ = nullptr;
    QStackedWidget* usage_ = nullptr;
    QWidget* usageCard_ = nullptr;
    QWidget* usageFailure_ = nullptr;
    QWidget* usageSpinner_ = nullptr;
    QLabel* usageValues_[3] = {};
    QPushButton* preview_ = nullptr;
    QProgressBar* previewSpinner_ = nullptr;
    QLabel* message_ = nullptr;
};

} // namespace tolvex
