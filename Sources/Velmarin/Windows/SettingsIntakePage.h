#pragma once

#include "Velmarin/Common/Published.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

namespace tolvex {

class HotKey;
class IntakeSettingsModel;

// The settings window's first page: the hot key's state, manual input, the
// automatic clipboard intake switches and the capture folder. Built once;
// sync() brings every control in line with the model without rebuilding
// anything (keyboard focus stays where it is), and a programmatic update
// never writes back: only a user's click reaches the model.
class SettingsIntakePage final : public QWidget {
public:
    SettingsIntakePage(IntakeSettingsModel& model, HotKey* hotKey, int spacing, QWidget* parent = nullptr);

    void sync();

    // The controls, by their preference field or role, for the window's tests.
    QPushButton* imagesToggle() const { return images_; }
    QCheckBox* captureSwitch() const { return capture_; }
    QLabel* folderName() const { return folderName_; }
    QLabel* folderPath() const { return folderPath_; }
    QPushButton* shortcutRetry() const { return shortcutRetry_; }

private:
    void syncShortcut();

    IntakeSettingsModel& model_;
    HotKey* hotKey_;
    Subscription hotKeySubscription_;
    QLabel* shortcutStatus_ = nullptr;
    QPushButton* shortcutRetry_ = nullptr;
    QWidget* automaticCard_ = nullptr;
    QCheckBox* enabled_ = nullptr;
    QPushButton* images_ = nullptr;
    QPushButton* text_ = nullptr;
    QPushButton* files_ = nullptr;
    QCheckBox* existing_ = nullptr;
    QLabel* clipboardStatus_ = nullptr;
    QCheckBox* capture_ = nullptr;
    QLabel* folderName_ = nullptr;
    QLabel* folderPath_ = nullptr;
    QLabel* captureStatus_ = nullptr;
};

} // namespace tolvex
