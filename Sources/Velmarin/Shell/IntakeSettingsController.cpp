#include "Velmarin/Shell/IntakeSettingsController.h"

#include "Velmarin/Shelf/Line.h"

namespace tolvex {

IntakeSettingsController::IntakeSettingsController(ClipboardImportService* service, CaptureFolderCoordinator* capture,
    QUrl libraryURL, LineStore* store, Line* line, HotKey* hotKey)
    : service_(service), capture_(capture), libraryURL_(std::move(libraryURL)), store_(store), line_(line),
      hotKey_(hotKey)
{
}

void IntakeSettingsController::present(int)
{
}

} // namespace tolvex
