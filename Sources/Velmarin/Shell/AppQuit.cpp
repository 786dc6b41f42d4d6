#include "Velmarin/Shell/AppQuit.h"

#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Platform/TerminationSignals.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Shell/QuitGate.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QSessionManager>
#include <QTimer>

#include <memory>
#include <vector>

namespace tolvex::AppQuit {

namespace {

// Counts a keep as ended, however it ended, and ends the wait after the last.
QCoro::Task<void> settle(QCoro::Task<void> keep, std::shared_ptr<int> open, QPointer<QEventLoop> waiting)
{
    try {
        co_await std::move(keep);
    } catch (...) {
    }
    if (--*open == 0 && waiting)
        waiting->quit();
}

} // namespace

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

int runAlert(Line* line, Alert& alert)
{
    if (!line)
        return Alert::cancelResponse;
    if (!line->isCovered())
        return line->runAlert(alert);
    alert.window()->setWindowTitle(appLocalizer().string(MessageKey::contentHidden));
    // Still one of the line's modals: a cover asked for again ends it.
    const ModalRegistration registration(*line, alert.window());
    return alert.run();
}

void keepWork(AppDelegate& delegate, std::chrono::milliseconds bound)
{
    const QDeadlineTimer deadline(bound);
    std::vector<QCoro::Task<void>> keeps;
    if (TextEditorController* textEditor = delegate.textEditor())
        keeps.push_back(textEditor->keepForTermination(deadline));
    if (NoteEditorController* noteEditor = delegate.noteEditor())
        keeps.push_back(noteEditor->keepForTermination(deadline));
    keeps.push_back(Markup::shared().keepForTermination(deadline));
    awaitKeeps(std::move(keeps), deadline);
}

void endKeepingWork(AppDelegate& delegate, std::function<void()> end)
{
    if (!end)
        TerminationSignals::endWithin(AppDelegate::terminationBound);
    // The intake stops first: an import begun while the editors keep their
    // work would hold the store they write through, and the keep would wait
    // for it past its bound.
    delegate.applicationWillTerminate();
    keepWork(delegate, AppDelegate::terminationKeepBound);
    if (end)
        end();
    else
        // Every event loop ends, an alert's included; quit() would ask the
        // windows to close first, and an editor holding work would refuse.
        QCoreApplication::exit(0);
}

bool awaitKeeps(std::vector<QCoro::Task<void>> keeps, QDeadlineTimer deadline)
{
    QEventLoop waiting;
    auto open = std::make_shared<int>(static_cast<int>(keeps.size()));
    for (QCoro::Task<void>& keep : keeps)
        launchTask(settle(std::move(keep), open, &waiting), {});
    if (*open > 0) {
        if (!deadline.isForever())
            QTimer::singleShot(std::max<qint64>(deadline.remainingTime(), 0), &waiting, &QEventLoop::quit);
        waiting.exec();
    }
    return *open == 0;
}

void commitData(AppDelegate& delegate, QSessionManager& manager)
{
    if (manager.allowsInteraction()) {
        const bool mayQuit = delegate.applicationShouldTerminate();
        manager.release();
        if (!mayQuit)
            manager.cancel();
        return;
    }
    keepWork(delegate, AppDelegate::terminationKeepBound);
}

} // namespace tolvex::AppQuit
