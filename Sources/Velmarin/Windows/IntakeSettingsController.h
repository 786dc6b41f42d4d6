#pragma once

#include "Velmarin/Common/Published.h"
#include "Velmarin/Windows/IntakeSettingsModel.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>
#include <optional>

class QStackedLayout;
class QWidget;

namespace tolvex {

class CaptureFolderCoordinator;
class ClipboardImportService;
class HotKey;
class IntakeSettingsView;
class Line;
class MaterialStore;

// The settings window, made once and only hidden when closed, so that
// present() shows it again with its state kept. While the shelf is covered
// for privacy, the window shows the cover's placeholder under the title
// "privacy.hidden" instead of the settings, and the cleanup sheet and
// panels end.
class IntakeSettingsController final : public QObject {
public:
    // `service`, `capture`, `store` and `hotKey` must outlive the controller.
    IntakeSettingsController(ClipboardImportService& service, CaptureFolderCoordinator& capture, QUrl libraryURL,
        MaterialStore* store, Line* line, HotKey* hotKey, QObject* parent = nullptr);
    ~IntakeSettingsController() override;

    // Page 0 is intake, any other storage.
    void present(int page);
    // Shows the storage page and starts a cleanup preview on it.
    void presentCleanupPreview();

    IntakeSettingsModel& model() { return *model_; }
    QWidget* window() const { return window_.get(); }
    IntakeSettingsView* settingsContent() const { return content_; }
    QWidget* placeholder() const { return placeholder_; }

private:
    void applyPrivacy(bool hidden);

    std::unique_ptr<IntakeSettingsModel> model_;
    std::unique_ptr<QWidget> window_;
    QStackedLayout* stack_ = nullptr;
    IntakeSettingsView* content_ = nullptr;
    QWidget* placeholder_ = nullptr;
    Subscription privacySubscription_;
    std::optional<bool> shownHidden_;
};

} // namespace tolvex
