#include "Velmarin/Shell/AppAlerts.h"

#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Platform/FileManagerReveal.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Shell/WorkflowAlerts.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include <QPointer>

namespace tolvex::AppAlerts {

std::unique_ptr<WorkflowAlerts> workflowAlerts(AppDelegate& delegate)
{
    const QPointer<AppDelegate> self(&delegate);
    WorkflowAlerts::Remedies remedies{
        [self](int page) {
            if (self)
                self->openSettings(page);
        },
        [self] {
            if (self)
                self->chooseFiles();
        },
        [self] {
            if (self && self->recovery())
                launchTask(self->recovery()->show(std::nullopt), {});
        },
        [self] {
            if (self && self->capture())
                self->capture()->chooseFolder();
        },
        [](const QUrl& file) { return revealInFileManager(file); },
        [self] {
            if (self)
                self->requestQuit();
        },
        // The desktop's clipboard.
        {},
    };
    return std::make_unique<WorkflowAlerts>(delegate.line(), std::move(remedies),
        [self](Alert& alert) { return self ? self->runAlert(alert) : 0; });
}

} // namespace tolvex::AppAlerts
