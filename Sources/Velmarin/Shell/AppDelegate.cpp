#include "Velmarin/Shell/AppDelegate.h"

#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/ClipboardPollTrigger.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/CanberraSound.h"
#include "Velmarin/Platform/FileManagerReveal.h"
#include "Velmarin/Platform/HotKey.h"
#include "Velmarin/Platform/RunningInstance.h"
#include "Velmarin/Platform/SettingsUserDefaults.h"
#include "Velmarin/Platform/SystemPasteboard.h"
#include "Velmarin/Platform/TerminationSignals.h"
#include "Velmarin/Platform/X11HotKeyBackend.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineIntakeController.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Shell/AppMenus.h"
#include "Velmarin/Shell/AppQuit.h"
#include "Velmarin/Shell/CapturePresentation.h"
#include "Velmarin/Shell/CommandPath.h"
#include "Velmarin/Shell/FileChooser.h"
#include "Velmarin/Shell/LaunchRecovery.h"
#include "Velmarin/Shell/StandardShortcuts.h"
#include "Velmarin/Shell/StatusItem.h"
#include "Velmarin/Shell/WorkflowAlerts.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/HeldDrafts.h"
#include "Velmarin/Windows/IntakeSettingsController.h"
#include "Velmarin/Windows/MaterialDetailController.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/TextEditorController.h"
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
        ownsRoot_ = options_.rootLock && options_.rootLock->isHeld();
        store_ = ownsRoot_
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
            revealInFileManager(environment_.dataRoot);
    };
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
    recovery_.reset();
    detail_.reset();
    noteEditor_.reset();
    textEditor_.reset();
    actions_.reset();
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

    const AlertRunner alertRunner = [self](Alert& alert) { return self ? self->runAlert(alert) : 0; };
    alerts_ = std::make_unique<WorkflowAlerts>(*line_,
        WorkflowAlerts::Remedies{
            [self](int page) {
                if (self)
                    self->openSettings(page);
            },
            [self] {
                if (self)
                    self->chooseFiles();
            },
            [self] {
                if (self && self->recovery_)
                    launchTask(self->recovery_->show(std::nullopt), {});
            },
            [self] {
                if (self && self->capture_)
                    self->capture_->chooseFolder();
            },
            [](const QUrl& file) { revealInFileManager(file); },
            [self] {
                if (self)
                    self->requestQuit();
            },
        },
        alertRunner);
    commandPath_ = std::make_unique<CommandPath>(
        *line_, *defaults_, *sound_, [self] { return self ? self->recovery_.get() : nullptr; },
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
    if (ownsRoot_) {
        runningInstance_ = std::make_unique<RunningInstance>(environment_.dataRoot.toLocalFile(), [self] {
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

namespace {

// The intake's callbacks, as plain coroutines: a capturing coroutine lambda
// would leave its captures behind when the callback is replaced mid-await.
QCoro::Task<void> renderOn(QPointer<Line> line, WorkspaceSnapshot snapshot)
{
    if (!line)
        co_return;
    auto rendering = line->render(std::move(snapshot));
    co_await std::move(rendering);
}

QCoro::Task<void> presentOn(QPointer<CapturePresentation> presentation, QUuid id, std::optional<QRectF> area,
    WorkspaceSnapshot snapshot)
{
    if (!presentation)
        co_return;
    auto presenting = presentation->presentCapture(id, area, std::move(snapshot));
    co_await std::move(presenting);
}

} // namespace

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
    const auto capacity = [self]() -> std::int64_t { return self ? Line::maxItems : 8; };
    const auto renderSnapshot = [self](WorkspaceSnapshot snapshot) -> QCoro::Task<void> {
        return renderOn(self ? self->line_ : nullptr, std::move(snapshot));
    };

    capture_.reset();
    if (store) {
        capture_ = std::make_unique<CaptureFolderCoordinator>(*store);
        capture_->privacyLine = line_;
    }
    Markup::shared().privacyLine = line_;
    if (capture_) {
        capture_->capacity = capacity;
        capture_->onSnapshot = renderSnapshot;
        capture_->onError = [self](std::exception_ptr error) {
            if (self)
                self->presentCaptureError(error);
        };
        capture_->onStatusChanged = [self, coordinator = capture_.get()] {
            if (self && self->capture_.get() == coordinator)
                self->refreshIntakeStatus();
        };
        // The card's picture and the flight's are made from the decode the
        // capture already did, before the card is shown.
        capture_->onPicture = [self](const CapturePicture& picture) {
            if (!self)
                return;
            if (self->line_)
                self->line_->offerPicture(picture.sha256, picture.image, picture.typeIdentifier);
            if (CapturePresentation* presentation = self->capturePresentation())
                presentation->offerPicture(picture);
        };
        capture_->onImported = [self](QUuid id, std::optional<QRectF> area, WorkspaceSnapshot snapshot) {
            return presentOn(self ? self->capturePresentation() : nullptr, id, area, std::move(snapshot));
        };
    }

    const auto presentError = [self](std::exception_ptr error) {
        if (self)
            self->presentActionError(error);
    };

    actions_ = std::make_unique<MaterialActions>(*line_, environment_.dataRoot, materialStore());
    actions_->onError = presentError;
    line_->onPrepareDrag = [actions = QPointer<AppDelegate>(this)](const Pegged& card) {
        return prepareDrag(actions ? actions->actions_.get() : nullptr, card);
    };

    editorStore_ = std::make_unique<MaterialEditorStore>(materialStore());
    textEditor_ = std::make_unique<TextEditorController>(*line_, *editorStore_);
    textEditor_->onError = presentError;
    noteEditor_ = std::make_unique<NoteEditorController>(*line_, *editorStore_);
    noteEditor_->onError = presentError;
    noteEditor_->onHung = [self] {
        if (self)
            self->showLine();
    };
    line_->newNoteAction = [self] {
        if (self && self->noteEditor_)
            self->launchAction(self->noteEditor_->openNew(true));
    };
    line_->onOpenNote = [self](const QUuid& id) {
        if (self && self->noteEditor_)
            self->launchAction(self->noteEditor_->open(id, true));
    };
    line_->onRopeMenuProvider = [self]() -> QMenu* {
        if (!self)
            return nullptr;
        auto* menu = new QMenu;
        menu->setAttribute(Qt::WA_DeleteOnClose);
        StatusMenu::buildRopeMenu(*menu, self->menuState(), self->menuActions());
        return menu;
    };

    DetailActions detailActions;
    detailActions.copy = [self](QUuid id, bool includeSource) -> QCoro::Task<void> {
        if (!self || !self->actions_)
            throw StoreError::invalidSource();
        auto copying = self->actions_->copy(id, includeSource);
        co_await std::move(copying);
    };
    detailActions.open = [self](QUuid id) -> QCoro::Task<void> {
        if (!self || !self->actions_)
            throw StoreError::invalidSource();
        auto opening = self->actions_->open(id);
        co_await std::move(opening);
    };
    detail_ = std::make_unique<MaterialDetailController>(*line_, *editorStore_, detailActions, *textEditor_);
    detail_->onError = presentError;

    recovery_ = std::make_unique<WorkflowRecoveryController>(*line_, *actions_);
    recovery_->onError = presentError;
    const HeldDrafts::Source heldDrafts = [self] {
        return self ? HeldDrafts::of(Markup::shared(), self->textEditor_.get(), self->noteEditor_.get())
                    : QSet<QUuid>();
    };
    recovery_->heldDrafts = heldDrafts;
    recovery_->raiseHeld = [self](const QUuid& id) {
        return self && HeldDrafts::bringForward(id, Markup::shared(), self->textEditor_.get(), self->noteEditor_.get());
    };
    recovery_->onResumeText = [self](const EditSession& session) {
        if (self && self->textEditor_)
            self->launchAction(self->textEditor_->resume(session, true));
    };
    recovery_->onPreviewCleanup = [self] {
        if (self && self->intakeSettings_)
            self->intakeSettings_->presentCleanupPreview();
    };
    recovery_->onResumeNote = [self](const NoteDraft& draft) {
        if (self && self->noteEditor_)
            self->launchAction(self->noteEditor_->resume(draft, true));
    };
    launchAction(recovery_->refresh(true));

    line_->onCopy = [self](const QUuid& id) {
        if (self && self->actions_)
            self->launchAction(self->actions_->copy(id, false));
    };
    line_->onOpen = [self](const QUuid& id) {
        if (self && self->detail_)
            self->launchAction(self->detail_->open(id, true));
    };
    line_->onCopySource = [self](const QUuid& id) {
        if (self && self->actions_)
            self->launchAction(self->actions_->copy(id, true));
    };
    line_->onReveal = [self](const QUuid& id) {
        if (self && self->actions_)
            self->launchAction(self->actions_->reveal(id));
    };
    line_->onMarkup = [self](const QUuid& id) {
        if (!self)
            return;
        const MaterialRecord* record = self->line_->snapshot->findMaterial(id);
        if (record && record->kind == MaterialKind::text && self->textEditor_)
            self->launchAction(self->textEditor_->open(id, true));
        else if (self->actions_)
            self->launchAction(self->actions_->markup(id));
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
        auto gateway = std::make_shared<SystemClipboardGateway>(pasteboard);
        clipboard_ = std::make_shared<ClipboardImportService>(gateway, *store, capacity, [self] {
            return self && !self->line_->isCovered();
        });
        clipboard_->onSnapshot = [self](const WorkspaceSnapshot& snapshot) {
            return renderOn(self ? self->line_ : nullptr, snapshot);
        };
        clipboard_->onImported = [self](const QUuid& id, const WorkspaceSnapshot& snapshot) {
            if (self && self->lineIntake_ && self->lineIntake_->awaitingCompletion())
                self->lineIntake_->savedInput = true;
            return presentOn(self ? self->capturePresentation() : nullptr, id, std::nullopt, snapshot);
        };
        clipboard_->onStateChanged = [self] {
            if (self)
                self->refreshIntakeStatus();
        };
        lineIntake_ = std::make_unique<LineIntakeController>(*line_, clipboard_);
        clipboardTrigger_ = std::make_unique<ClipboardPollTrigger>(ClipboardPollTrigger::pollOf(
            [self] { return self ? self->clipboard_.get() : nullptr; }));
        connect(pasteboard.get(), &SystemPasteboard::changed, clipboardTrigger_.get(), &ClipboardPollTrigger::request);
    }

    // The settings window shows and saves what the intake services hold;
    // without them (no store) there is nothing for it to show.
    if (clipboard_ && capture_) {
        intakeSettings_ = std::make_unique<IntakeSettingsController>(
            *clipboard_, *capture_, environment_.dataRoot, store, line_, hotKey_.get());
        intakeSettings_->model().heldDrafts = heldDrafts;
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

QCoro::Task<std::shared_ptr<QMimeData>> AppDelegate::prepareDrag(MaterialActions* actions, Pegged card)
{
    if (!actions)
        throw StoreError::invalidSource();
    auto providing = actions->dragProvider(std::move(card));
    co_return co_await std::move(providing);
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
    QCoreApplication::quit();
}

void AppDelegate::terminateKeepingWork()
{
    if (terminating_)
        return;
    terminating_ = true;
    if (!options_.endTerminated)
        TerminationSignals::endWithin(terminationBound);
    AppQuit::keepWork(*this, terminationKeepBound);
    applicationWillTerminate();
    if (options_.endTerminated)
        options_.endTerminated();
    else
        // Every event loop ends, an alert's included; quit() would ask the
        // windows to close first, and an editor holding work would refuse.
        QCoreApplication::exit(0);
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
