#pragma once

#include "Velmarin/Shell/IntakeSettingsModel.h"

#include <QPointer>
#include <QUrl>

namespace tolvex {

class CaptureFolderCoordinator;
class ClipboardImportService;
class HotKey;
class Line;
class LineStore;

// The settings window: intake switches, capture folder, hot-key status,
// library usage and storage cleanup. This shell's version keeps the calls
// and shows nothing yet.
class IntakeSettingsController {
public:
    IntakeSettingsController(ClipboardImportService* service, CaptureFolderCoordinator* capture, QUrl libraryURL,
        LineStore* store = nullptr, Line* line = nullptr, HotKey* hotKey = nullptr);
    virtual ~IntakeSettingsController() = default;

    // Page 0 is intake, 1 storage.
    virtual void present(int page);

    IntakeSettingsModel& model() { return model_; }

protected:
    ClipboardImportService* service_;
    CaptureFolderCoordinator* capture_;
    QUrl libraryURL_;
    LineStore* store_;
    QPointer<Line> line_;
    HotKey* hotKey_;
    IntakeSettingsModel model_;
};

} // namespace tolvex
