#include "Velmarin/Shell/AppQuit.h"

#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Shell/QuitGate.h"

#include <QSessionManager>

#include <memory>

namespace tolvex::AppQuit {

bool mayTerminate(AppDelegate& delegate, const AlertRunner& runAlert)
{
    QuitGate::Participants participants;
    participants.detail = delegate.detail();
    participants.noteEditor = delegate.noteEditor();
    participants.textEditor = delegate.textEditor();
    Markup& markup = Markup::shared();
    participants.markup = QuitGate::MarkupSession{markup.isEditing(), markup.hasPendingResult(),
        markup.canRetrySaving(), [] { launchTask(Markup::shared().retrySaving(), {}); },
        [] { Markup::shared().abandon(); }};
    if (const std::shared_ptr<ClipboardImportService> clipboard = delegate.clipboardService()) {
        const std::weak_ptr<ClipboardImportService> service = clipboard;
        participants.clipboard = QuitGate::Clipboard{
            [service] {
                const auto live = service.lock();
                return live && live->hasUnsavedInput();
            },
            [service] {
                const auto live = service.lock();
                return live && live->discardPending();
            },
            [service] {
                if (const auto live = service.lock())
                    live->stop();
            },
            [service] {
                if (const auto live = service.lock())
                    launchTask(live->retryPending(), {});
            },
        };
    }
    return QuitGate::requestTermination(participants, runAlert);
}

void commitData(AppDelegate& delegate, QSessionManager& manager)
{
    const bool mayQuit = manager.allowsInteraction() ? delegate.applicationShouldTerminate()
                                                     : mayTerminate(delegate, [](Alert&) { return Alert::cancelResponse; });
    manager.release();
    if (!mayQuit)
        manager.cancel();
}

} // namespace tolvex::AppQuit
