#include "Velmarin/Shell/AppDelegate.h"

#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/ClipboardPollTrigger.h"
#include "Velmarin/Platform/CanberraSound.h"
#include "Velmarin/Platform/HotKey.h"
#include "Velmarin/Platform/RunningInstance.h"
#include "Velmarin/Platform/SettingsUserDefaults.h"
#include "Velmarin/Platform/SystemPasteboard.h"
#include "Velmarin/Platform/TerminationSignals.h"
#include "Velmarin/Platform/X11HotKeyBackend.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/ShowInFileManager.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineIntakeController.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Shell/AppAlerts.h"
#include "Velmarin/Shell/AppIntake.h"
#include "Velmarin/Shell/AppMenus.h"
#include "Velmarin/Shell/AppQuit.h"
#include "Velmarin/Shell/CommandPath.h"
#include "Velmarin/Shell/FileChooser.h"
#include "Velmarin/Shell/LaunchRecovery.h"
#include "Velmarin/Shell/StandardShortcuts.h"
#include "Velmarin/Shell/StatusItem.h"
#include "Velmarin/Shell/WorkflowAlerts.h"
#include "Velmarin/Windows/IntakeSettingsController.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include <QApplication>
#include <QCoro/QCoroFuture>
#include <QEvent>
#include <QMenu>
#include <QSessionManager>

namespace tolvex {

AppDelegate::AppDelegate(AppEnvironment environment) : AppDelegate(std::move(environment), Options())
{
}

AppDelegate::AppDelegate(AppEnvironment environment, Options options)
    : environment_(std::move(environment)), options_(std::move(options))
{
    if (options_.line) {
        line_ = options_.line;
    } else {
        const StorageBudget budget{maxFileBytes, maxMaterialBytes, minimumFreeBytes};
        auto files = std::make_shared<SystemFileOperations>();
        const bool ownsRoot = options_.rootLock && options_.rootLock->isHeld();
        // Looked at before the claim goes to the store, which keeps it to itself.
        if (ownsRoot)
            heldFolder_ = RunningInstance::folderHeldBy(*options_.rootLock);
        store_ = ownsRoot
            ? std::make_unique<MaterialStore>(environment_.dataRoot, files, budget, std::move(*options_.rootLock))
            : std::make_unique<MaterialStore>(environment_.dataRoot, files, budget);
        lineStore_ = std::make_unique<MaterialLineStore>(*store_);
        defaults_ = std::make_unique<SettingsUserDefaults>();
        ownedLine_ = std::make_unique<Line>(*lineStore_, *defaults_);
        line_ = ownedLine_.get();
    }
    if (!defaults_)
        defaults_ = std::make_unique<SettingsUserDefaults>();
    sound_ = options_.sound ? options_.sound : std::make_shared<CanberraSound>();
    display_ = std::make_unique<ShelfDisplay>(*line_, options_.fullScreenState);

    LaunchRecovery::Hooks recovery;
    if (options_.canRestorePrevious)
        recovery.canRestorePrevious = options_.canRestorePrevious;
    else if (store_)
        recovery.canRestorePrevious = [store = store_.get()] { return store->canRestorePreviousSnapshot(); };
    if (options_.restorePrevious)
        recovery.restorePrevious = options_.restorePrevious;
    else if (store_)
        recovery.restorePrevious = [store = store_.get()] { return store->restorePreviousSnapshot(); };
    recovery.revealDataRoot = [this] {
        if (options_.revealFolder)
            options_.revealFolder(environment_.dataRoot);
        else
            launchTask(ShowInFileManager::show(environment_.dataRoot,
                           [self = QPointer<AppDelegate>(this)](Alert& alert) {
                               return self ? self->runAlert(alert) : Alert::cancelResponse;
                           }),
                {});
    };
    recovery.rootLink = [root = environment_.dataRoot] { return LaunchRecovery::linkAt(root); };
    recovery.runAlert = [this](Alert& alert) { return runAlert(alert); };
    recovery.onInterrupted = [this](std::exception_ptr error, bool allowRestore) {
        interruptedLaunchAlert = std::make_pair(error, allowRestore);
    };
    recovery.quit = [this] { requestQuit(); };
    recovery.onLoaded = [this] { activateMaterialWorkflow(); };
    launchRecovery_ = std::make_unique<LaunchRecovery>(*line_, std::move(recovery));

    // Fires inside menus and other nested loops too.
    clipboardTimer_.setInterval(clipboardPollMilliseconds);
}

AppDelegate::~AppDelegate()
{
    // A later start from here on finds nobody to show the line.
    runningInstance_.reset();
    // The presentation and the controllers hold references into the line.
    clipboardTimer_.stop();
    clipboardTrigger_.reset();
    cancellables_.clear();
    display_->stopFollowing();
    lineIntake_.reset();
    intakeSettings_.reset();
    if (clipboard_)
        clipboard_->stop();
    clipboard_.reset();
    if (capture_)
        capture_->stop();
    capture_.reset();
    display_->stopPresenting();
    intakeSettings_.reset();
    workflow_.reset();
    commandPath_.reset();
}

void AppDelegate::applicationWillFinishLaunching()
{
    const auto quit = [self = QPointer<AppDelegate>(this)] {
        if (self)
            self->requestQuit();
    };
    StandardShortcuts::install(qApp, quit);
    TerminationSignals::route([self = QPointer<AppDelegate>(this)] {
        if (self)
            self->terminateKeepingWork();
    });
}

void AppDelegate::applicationDidFinishLaunching()
{
    const QPointer<AppDelegate> self(this);

    // 1-2. The panel, placed under the menu bar of the pointer's screen,
    // and the capture presentation.
    display_->present(options_.makePanel, *sound_, *defaults_);

    alerts_ = AppAlerts::workflowAlerts(*this);
    commandPath_ = std::make_unique<CommandPath>(
        *line_, *defaults_, *sound_, [self] { return self ? self->recovery() : nullptr; },
        [self](std::exception_ptr error) {
            if (self)
                self->presentActionError(error);
        });

    // 3. The load waits for the event loop, after the rest of the launch.
    QTimer::singleShot(0, this, [self] {
        if (self)
            launchTask(self->launch(), {});
    });

    // A later start on this data root asks for the line instead of running.
    if (heldFolder_) {
        runningInstance_ = std::make_unique<RunningInstance>(*heldFolder_, [self] {
            if (self)
                self->showLine();
        });
    }

    // 4. The hot key toggles the line.
    hotKey_ = std::make_unique<HotKey>(x11HotKeyBackend(), [self] {
        if (self)
            self->toggle();
    });
    hotKey_->retry();

    // 5. The status item.
    statusItem_ = std::make_unique<StatusItem>([self](QMenu& menu) {
        if (self)
            StatusMenu::buildStatusMenu(menu, self->menuState(), self->menuActions());
    });

    // 6. A failed privacy save marks the status item.
    cancellables_.push_back(line_->privacySaveFailed.subscribe([self](const bool&) {
        if (self)
            QTimer::singleShot(0, self, [self] {
                if (self)
                    self->refreshIntakeStatus();
            });
    }));

    // 7-11. Clicks in the menu-bar band, cards taken down, new sets of
    // cards, desktop switches and activations, and screens move the shelf.
    display_->follow();

    // The session manager's quit passes the same checks; its order to end
    // comes as a quit of the application.
    connect(qApp, &QGuiApplication::commitDataRequest, this,
        [this](QSessionManager& manager) { AppQuit::commitData(*this, manager); });
    qApp->installEventFilter(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);

    refreshIntakeStatus();
}

MaterialStore* AppDelegate::materialStore() const
{
    if (store_)
        return store_.get();
    auto* lineStore = dynamic_cast<MaterialLineStore*>(&line_->store());
    return lineStore ? &lineStore->store() : nullptr;
}

QCoro::Task<void> AppDelegate::launch()
{
    const QPointer<AppDelegate> self(this);
    std::exception_ptr failure;
    try {
        auto loading = line_->load();
        co_await std::move(loading);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure)
        presentRecovery(failure, true);
    else
        activateMaterialWorkflow();
}

void AppDelegate::activateMaterialWorkflow()
{
    const QPointer<AppDelegate> self(this);
    interruptedLaunchAlert.reset();

    // A second activation (after a restore) first stops the first one's
    // intake, so that two watchers or two polls never run at once.
    if (capture_)
        capture_->stop();
    if (clipboard_)
        clipboard_->stop();
    clipboardTimer_.stop();
    QObject::disconnect(&clipboardTimer_, &QTimer::timeout, nullptr, nullptr);
    clipboardTrigger_.reset();
    lineIntake_.reset();
    intakeSettings_.reset();

    MaterialStore* store = materialStore();
    capture_.reset();
    if (store)
        capture_ = AppIntake::capture(*this, *store);
    Markup::shared().privacyLine = line_;

    const auto presentError = [self](std::exception_ptr error) {
        if (self)
            self->presentActionError(error);
    };

    MaterialWorkflow::Hooks hooks;
    hooks.launchAction = [self](QCoro::Task<void> task) {
        if (self)
            self->launchAction(std::move(task));
    };
    hooks.onError = presentError;
    hooks.showLine = [self] {
        if (self)
            self->showLine();
    };
    hooks.previewCleanup = [self] {
        if (self && self->intakeSettings_)
            self->intakeSettings_->presentCleanupPreview();
    };
    workflow_ = std::make_unique<MaterialWorkflow>(*line_, environment_.dataRoot, store, std::move(hooks));
    launchAction(workflow_->recovery()->refresh(true));

    line_->onRopeMenuProvider = [self]() -> QMenu* {
        if (!self)
            return nullptr;
        auto* menu = new QMenu;
        menu->setAttribute(Qt::WA_DeleteOnClose);
        StatusMenu::buildRopeMenu(*menu, self->menuState(), self->menuActions());
        return menu;
    };
    line_->onCommand = [self](const MaterialCommand& command) {
        if (self && self->commandPath_)
            self->launchAction(self->commandPath_->run(command));
    };
    line_->onError = presentError;

    if (capture_)
        capture_->restore(line_->snapshot());

    clipboard_.reset();
    if (store) {
        auto pasteboard = std::make_shared<SystemPasteboard>();
        clipboard_ = AppIntake::clipboard(*this, *store, pasteboard);
        lineIntake_ = std::make_unique<LineIntakeController>(*line_, clipboard_);
        clipboardTrigger_ = AppIntake::pollTrigger(*this, *pasteboard);
    }

    // The settings window shows and saves what the intake services hold;
    // without them (no store) there is nothing for it to show.
    if (clipboard_ && capture_) {
        intakeSettings_ = std::make_unique<IntakeSettingsController>(
            *clipboard_, *capture_, environment_.dataRoot, store, line_, hotKey_.get());
        intakeSettings_->model().heldDrafts = workflow_->heldDrafts();
    }
    line_->canOpenIntakeSettings = true;
    line_->openSettingsAction = [self] {
        if (self)
            self->openSettings(0);
    };

    if (clipboard_) {
        launchTask(clipboard_->start(), {});
        connect(&clipboardTimer_, &QTimer::timeout, this, [self] {
            if (self && self->clipboard_)
                launchTask(self->clipboard_->poll(), {});
        });
        clipboardTimer_.start();
    }

    refreshIntakeStatus();
}

void AppDelegate::presentRecovery(std::exception_ptr error, bool allowRecovery)
{
    launchRecovery_->present(error, allowRecovery);
}

int AppDelegate::runAlert(Alert& alert)
{
    return options_.runAlert ? options_.runAlert(alert) : line_->runAlert(alert);
}

void AppDelegate::presentActionError(std::exception_ptr error)
{
    if (alerts_)
        alerts_->presentActionError(error);
}

void AppDelegate::presentCaptureError(std::exception_ptr error)
{
    if (alerts_)
        alerts_->presentCaptureError(error);
}

void AppDelegate::presentIntakeError(std::exception_ptr error, MessageKey title)
{
    if (alerts_)
        alerts_->presentIntakeError(error, title);
}

void AppDelegate::chooseFiles()
{
    FileChooser::chooseFiles(*line_);
}

void AppDelegate::openSettings(int page)
{
    if (intakeSettings_)
        intakeSettings_->present(page);
}

void AppDelegate::launchAction(QCoro::Task<void> task)
{
    launchTask(std::move(task), [self = QPointer<AppDelegate>(this)](std::exception_ptr error) {
        if (self)
            self->presentActionError(error);
    });
}

void AppDelegate::showLine()
{
    display_->showLine();
}

void AppDelegate::toggle()
{
    display_->toggle();
}

void AppDelegate::refreshIntakeStatus()
{
    line_->canReceiveInput = clipboard_ && clipboard_->canReceiveManual();
    if (lineIntake_)
        lineIntake_->refresh();
    const StatusMenu::State state = menuState();
    if (intakeSettings_)
        intakeSettings_->model().refresh();
    if (statusItem_) {
        const StatusMenu::ItemText text = StatusMenu::itemText(state, QStringLiteral("Tolvex"));
        statusItem_->setToolTip(text.toolTip);
        statusItem_->setTitle(text.title);
    }
}

StatusMenu::State AppDelegate::menuState() const
{
    return AppMenus::state(*this);
}

StatusMenu::Actions AppDelegate::menuActions()
{
    return AppMenus::actions(*this);
}

bool AppDelegate::applicationShouldTerminate()
{
    const AlertRunner runAlert = options_.terminationResponse
        ? options_.terminationResponse
        : AlertRunner([line = QPointer<Line>(line_)](Alert& alert) { return AppQuit::runAlert(line.data(), alert); });
    return AppQuit::mayTerminate(*this, runAlert);
}

void AppDelegate::applicationWillTerminate()
{
    if (terminated_)
        return;
    terminated_ = true;
    if (capture_)
        capture_->stop();
    if (clipboard_)
        clipboard_->stop();
    clipboardTimer_.stop();
}

void AppDelegate::requestQuit()
{
    if (!applicationShouldTerminate())
        return;
    applicationWillTerminate();
    quitRequested_ = true;
    // The checks have allowed it: every event loop ends now. quit() would
    // first ask each window to close, and the note editor answers a close
    // by saving and hiding its window, never closing it at once, which
    // would cancel the quit without a word.
    QCoreApplication::exit(0);
}

void AppDelegate::terminateKeepingWork()
{
    if (terminating_)
        return;
    terminating_ = true;
    AppQuit::endKeepingWork(*this, options_.endTerminated);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::Quit && !quitRequested_) {
        QTimer::singleShot(0, this, [self = QPointer<AppDelegate>(this)] {
            if (self)
                self->terminateKeepingWork();
        });
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tolvex
