#include "Velmarin/Shell/AppDelegate.h"

#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/SystemPasteboard.h"
#include "Velmarin/Shelf/LineIntakeController.h"
#include "Velmarin/Platform/CanberraSound.h"
#include "Velmarin/Platform/FileManagerReveal.h"
#include "Velmarin/Platform/RunningInstance.h"
#include "Velmarin/Platform/SettingsUserDefaults.h"
#include "Velmarin/Platform/TerminationSignals.h"
#include "Velmarin/Platform/X11ButtonPresses.h"
#include "Velmarin/Platform/X11DesktopChanges.h"
#include "Velmarin/Platform/X11HotKeyBackend.h"
#include "Velmarin/Shelf/CaptureFlight.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LinePanel.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Shelf/LineView.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shell/CapturePresentation.h"
#include "Velmarin/Shell/CommandPath.h"
#include "Velmarin/Platform/EventSound.h"
#include "Velmarin/Shell/FileChooser.h"
#include "Velmarin/Platform/HotKey.h"
#include "Velmarin/Presentation/InteractionFeedback.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Windows/MaterialDetailController.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Shell/LinePanelPresentation.h"
#include "Velmarin/Shell/QuitGate.h"
#include "Velmarin/Shell/ShelfPresentation.h"
#include "Velmarin/Shell/StandardShortcuts.h"
#include "Velmarin/Shell/StatusItem.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/TextEditorController.h"
#include "Velmarin/Shell/WorkflowAlerts.h"
#include "Velmarin/Windows/HeldDrafts.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"
#include "Velmarin/Windows/IntakeSettingsController.h"

#include <QApplication>
#include <QCoro/QCoroFuture>
#include <QCursor>
#include <QScreen>
#include <QSessionManager>

namespace tolvex {

AppDelegate::AppDelegate(AppEnvironment environment) : AppDelegate(std::move(environment), Options())
{
}

AppDelegate::AppDelegate(AppEnvironment environment, Options options)
    : environment_(std::move(environment)), options_(std::move(options)), system_(options_.fullScreenState)
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

    // Fires inside menus and other nested loops too.
    clipboardTimer_.setInterval(clipboardPollMilliseconds);
}

AppDelegate::~AppDelegate()
{
    // A later start from here on finds nobody to show the line.
    runningInstance_.reset();
    // The presentation and the controllers hold references into the line.
    clipboardTimer_.stop();
    cancellables_.clear();
    lineIntake_.reset();
    intakeSettings_.reset();
    if (clipboard_)
        clipboard_->stop();
    clipboard_.reset();
    if (capture_)
        capture_->stop();
    capture_.reset();
    capturePresentation_.reset();
    presentation_.reset();
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
    TerminationSignals::route(quit);
}

void AppDelegate::applicationDidFinishLaunching()
{
    const QPointer<AppDelegate> self(this);

    // 1-2. The panel, placed under the menu bar of the pointer's screen.
    if (options_.makePanel) {
        panel_ = options_.makePanel(*line_);
    } else {
        auto shelfPanel = std::make_unique<LinePanelPresentation>(*line_);
        shelfPanel->panel()->onAccessibilityReveal = [self] {
            if (self)
                self->showLine();
        };
        panel_ = std::move(shelfPanel);
    }
    presentation_ = std::make_unique<ShelfPresentation>(*line_, *panel_, system_);
    presentation_->place(system_.screenUnderPointer());

    // Flights are windows of their own; the line ends them when it covers.
    CaptureFlight::install(*line_);
    const auto screenNamed = [](const QString& name) -> QScreen* {
        for (QScreen* candidate : QGuiApplication::screens()) {
            if (candidate->name() == name)
                return candidate;
        }
        return QGuiApplication::primaryScreen();
    };
    const auto runFlight = [screenNamed](FlightRequest request) {
        auto* flight = new CaptureFlight(request.image, request.from, request.to, request.tilt,
            screenNamed(request.screen.name));
        flight->falling = request.falling;
        if (request.duration > 0)
            flight->duration = request.duration;
        if (request.completion)
            flight->completion = std::move(request.completion);
        flight->run();
    };
    // Built once: it keeps its flights and its reduced motion across every
    // change of screens, and a presentation suspended in a render finishes.
    capturePresentation_ = std::make_unique<CapturePresentation>(*line_, *presentation_, *panel_, system_, *sound_,
        *defaults_,
        CapturePresentation::Hooks{runFlight, {}, &LineView::systemReduceMotion,
            [screenNamed](const PresentationScreen& screen) {
                const QScreen* found = screenNamed(screen.name);
                return found ? found->devicePixelRatio() : qreal(1);
            }});

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

    // 7. Clicks in the menu-bar band.
    clickMonitor_ = std::make_unique<X11ButtonPresses>([self] {
        if (self && self->presentation_)
            self->presentation_->menuBarClick(QCursor::pos());
    });

    // 8. Cards taken down fall.
    line_->onFall = [self](const Pegged& item) {
        if (self && self->capturePresentation_)
            self->capturePresentation_->fall(item);
    };

    // 9. Every new set of cards may be an arrival.
    cancellables_.push_back(line_->items.subscribe([self](const QList<Pegged>&) {
        if (self && self->presentation_)
            self->presentation_->itemsChanged();
    }));

    // 10. Desktop switches and activations, checked at once and once more
    // when the window manager has settled.
    desktopChanges_ = std::make_unique<X11DesktopChanges>([self] {
        if (self)
            self->onSpaceOrActivationChange();
    });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this] { onSpaceOrActivationChange(); });

    // 11. Screens coming, going or changing.
    const auto watchScreen = [this](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this, [this] { placeOnScreenUnderPointer(); });
        connect(screen, &QScreen::availableGeometryChanged, this, [this] { placeOnScreenUnderPointer(); });
    };
    for (QScreen* screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this, watchScreen](QScreen* screen) {
        watchScreen(screen);
        placeOnScreenUnderPointer();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, [this] { placeOnScreenUnderPointer(); });

    // The session manager's quit passes the same checks.
    connect(qApp, &QGuiApplication::commitDataRequest, this, &AppDelegate::commitDataRequest);
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

// A question that could not be answered is a no.
QCoro::Task<bool> answerOrNo(QFuture<bool> question)
{
    try {
        co_return co_await question;
    } catch (...) {
        co_return false;
    }
}

// The service reports a failed save through its own state.
QCoro::Task<void> keepResult(std::shared_ptr<ClipboardImportService> service, ClipboardPreference preference)
{
    auto updating = service->updatePreferences(std::move(preference));
    [[maybe_unused]] const bool saved = co_await std::move(updating);
}

} // namespace

MaterialStore* AppDelegate::materialStore() const
{
    if (store_)
        return store_.get();
    auto* lineStore = dynamic_cast<MaterialLineStore*>(&line_->store());
    return lineStore ? &lineStore->store() : nullptr;
}

void AppDelegate::confirmDiscardClipboard()
{
    const Localizer localizer = appLocalizer();
    Alert alert;
    alert.setTitle(localizer.string(MessageKey::discardClipboardTitle));
    alert.setMessage(localizer.string(MessageKey::discardClipboardMessage));
    alert.addButton(localizer.string(MessageKey::keepClipboard));
    alert.addButton(localizer.string(MessageKey::discardClipboard));
    const QPointer<AppDelegate> self(this);
    if (runAlert(alert) == Alert::firstButtonResponse + 1 && self && clipboard_)
        clipboard_->discardPending();
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
        capture_->onImported = [self](QUuid id, std::optional<QRectF> area, WorkspaceSnapshot snapshot) {
            return presentOn(self ? self->capturePresentation_.get() : nullptr, id, area, std::move(snapshot));
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
    recovery_->onResumeText = [self](const EditSession& session) {
        if (self && self->textEditor_)
            self->launchAction(self->textEditor_->resume(session, true));
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
        auto gateway = std::make_shared<SystemClipboardGateway>(std::make_shared<SystemPasteboard>());
        clipboard_ = std::make_shared<ClipboardImportService>(gateway, *store, capacity, [self] {
            return self && !self->line_->isCovered();
        });
        clipboard_->onSnapshot = [self](const WorkspaceSnapshot& snapshot) {
            return renderOn(self ? self->line_ : nullptr, snapshot);
        };
        clipboard_->onImported = [self](const QUuid& id, const WorkspaceSnapshot& snapshot) {
            if (self && self->lineIntake_ && self->lineIntake_->awaitingCompletion())
                self->lineIntake_->savedInput = true;
            return presentOn(self ? self->capturePresentation_.get() : nullptr, id, std::nullopt, snapshot);
        };
        clipboard_->onStateChanged = [self] {
            if (self)
                self->refreshIntakeStatus();
        };
        lineIntake_ = std::make_unique<LineIntakeController>(*line_, clipboard_);
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
    launchTask(recover(error, allowRecovery, false), {});
}

QCoro::Task<void> AppDelegate::recover(std::exception_ptr error, bool allowRestore, bool offerRetry)
{
    const QPointer<AppDelegate> self(this);
    enum class Choice { restore, reveal, retry, quit };
    for (;;) {
        const std::optional<StoreError::Code> code = StoreError::codeOf(error);
        bool offerRestore = allowRestore
            && (code == StoreError::Code::recoveryRequired || code == StoreError::Code::invalidSnapshot);
        if (offerRestore) {
            // A restore that would not end with a loaded workspace is no way out.
            auto asking = answerOrNo(options_.canRestorePrevious ? options_.canRestorePrevious()
                    : store_ ? store_->canRestorePreviousSnapshot()
                             : QtFuture::makeReadyFuture(false));
            offerRestore = co_await std::move(asking);
            if (!self)
                co_return;
        }
        const Localizer localizer = appLocalizer();
        const InteractionFeedback feedback(error);
        std::vector<std::pair<Choice, MessageKey>> choices;
        if (offerRestore)
            choices.emplace_back(Choice::restore, MessageKey::recoveryPrevious);
        choices.emplace_back(Choice::reveal, MessageKey::revealWorkspace);
        // A named entry can be moved out of the way without the folder shown.
        if (offerRetry || feedback.strayEntry)
            choices.emplace_back(Choice::retry, MessageKey::recoveryTryAgain);
        choices.emplace_back(Choice::quit, MessageKey::quit);

        Alert alert;
        alert.setTitle(localizer.string(MessageKey::recoveryTitle));
        QString message = localizer.string(MessageKey::recoveryMessage);
        if (feedback.strayEntry)
            message += QStringLiteral("\n\n") + feedback.text(localizer);
        alert.setMessage(message);
        for (const auto& [choice, key] : choices)
            alert.addButton(localizer.string(key));
        const int response = runAlert(alert);
        if (!self)
            co_return;
        if (response == Alert::cancelResponse) {
            // Cut short by the privacy cover: without a way back the program
            // would stay without a workflow for the rest of the run.
            interruptedLaunchAlert = std::make_pair(error, allowRestore);
            co_return;
        }
        const std::size_t index = static_cast<std::size_t>(response - Alert::firstButtonResponse);
        const Choice choice = index < choices.size() ? choices[index].first : Choice::quit;
        if (choice == Choice::quit) {
            requestQuit();
            co_return;
        }
        if (choice == Choice::reveal) {
            // The user may mend the folder now; the alert waits to load it again.
            if (options_.revealFolder)
                options_.revealFolder(environment_.dataRoot);
            else
                revealInFileManager(environment_.dataRoot);
            offerRetry = true;
            continue;
        }
        std::exception_ptr failure;
        try {
            auto reopening = reopen(choice == Choice::restore);
            co_await std::move(reopening);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self || !failure)
            co_return;
        error = failure;
        if (choice == Choice::restore)
            allowRestore = false;
    }
}

QCoro::Task<void> AppDelegate::reopen(bool restore)
{
    const QPointer<AppDelegate> self(this);
    if (restore) {
        if (!options_.restorePrevious && !store_)
            throw StoreError::recoveryRequired();
        auto restoring = options_.restorePrevious ? options_.restorePrevious() : store_->restorePreviousSnapshot();
        WorkspaceSnapshot restored = co_await std::move(restoring);
        if (!self)
            co_return;
        auto rendering = line_->render(std::move(restored));
        co_await std::move(rendering);
    } else {
        auto loading = line_->load();
        co_await std::move(loading);
    }
    if (self)
        activateMaterialWorkflow();
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
    if (presentation_)
        presentation_->showLine();
}

void AppDelegate::toggle()
{
    if (presentation_)
        presentation_->toggle();
}

void AppDelegate::placeOnScreenUnderPointer()
{
    if (presentation_)
        presentation_->place(system_.screenUnderPointer());
}

void AppDelegate::onSpaceOrActivationChange()
{
    if (!presentation_)
        return;
    presentation_->refresh();
    system_.after(spaceRecheckDelay, [self = QPointer<AppDelegate>(this)] {
        if (self && self->presentation_)
            self->presentation_->refresh();
    });
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
    StatusMenu::State state;
    state.privacyHidden = line_->isCovered();
    state.privacySaving = line_->privacySaving();
    state.privacySaveFailed = line_->privacySaveFailed();
    state.isRevealed = presentation_ && presentation_->isRevealed;
    state.liveCount = line_->liveCount();
    if (hotKey_)
        state.hotKey = hotKey_->status();
    state.hasRecovery = recovery_ != nullptr;
    state.canUndoTakeDown = recovery_ && recovery_->canUndoTakeDown(Date::now());
    state.hasNoteEditor = noteEditor_ != nullptr;
    state.hasSettings = intakeSettings_ != nullptr;
    state.markupCanRetry = Markup::shared().canRetrySaving();
    state.soundOff = defaults_->boolValue(QString::fromLatin1(EventSound::soundOffKey));
    if (clipboard_) {
        const ClipboardIntakeState intake = clipboard_->state();
        state.clipboard = StatusMenu::ClipboardRows{messageKey(intake),
            intake == ClipboardIntakeState::pending || intake == ClipboardIntakeState::changedFile
                || intake == ClipboardIntakeState::unavailable || intake == ClipboardIntakeState::rejected,
            intake == ClipboardIntakeState::rejected, clipboard_->isEnabled(), clipboard_->isSavingPreferences(),
            clipboard_->canReceiveManual(), clipboard_->canDiscardPending(), clipboard_->pendingCount()};
    }
    if (capture_)
        state.capture = StatusMenu::CaptureRows{capture_->status(), capture_->isEnabled(), capture_->pending().size()};
    return state;
}

StatusMenu::Actions AppDelegate::menuActions()
{
    const QPointer<AppDelegate> self(this);
    const QPointer<Line> line(line_);
    StatusMenu::Actions actions;
    actions.setPrivacyHidden = [line](bool hidden) {
        if (line)
            line->setPrivacyHidden(hidden);
    };
    actions.retryPrivacy = [line] {
        if (line)
            line->setPrivacyHidden(line->privacyDesired());
    };
    actions.toggleShelf = [self] {
        if (self)
            self->toggle();
    };
    actions.retryHotKey = [self] {
        if (self && self->hotKey_)
            self->hotKey_->retry();
    };
    actions.keyboardBrowse = [self] {
        if (!self || self->line_->isCovered())
            return;
        self->showLine();
        if (auto* shelfPanel = dynamic_cast<LinePanelPresentation*>(self->panel_.get()); shelfPanel && shelfPanel->panel())
            shelfPanel->panel()->beginKeyboardBrowsing();
    };
    actions.takeDownAll = [self] {
        if (self && self->line_->onCommand)
            self->line_->onCommand(MaterialCommand::takeDownUnpinned(self->line_->snapshot->selectedMatterID));
    };
    actions.showTakenDown = [self] {
        if (self && self->recovery_)
            launchTask(self->recovery_->showTakenDown(), {});
    };
    actions.undoTakeDown = [self] {
        if (self && self->recovery_)
            self->launchAction(self->recovery_->undoTakeDown(Date::now()));
    };
    actions.newNote = [line] {
        if (line)
            line->onNewNote()();
    };
    actions.pasteInput = [line] {
        if (line && line->onPasteInput)
            line->onPasteInput();
    };
    actions.importFiles = [self] {
        if (self)
            self->chooseFiles();
    };
    actions.openSettings = [self] {
        if (self)
            self->openSettings(0);
    };
    actions.toggleClipboard = [self] {
        if (!self || !self->clipboard_)
            return;
        ClipboardPreference preference = self->clipboard_->preferences();
        preference.enabled = !self->clipboard_->isEnabled();
        launchTask(keepResult(self->clipboard_, std::move(preference)), {});
    };
    actions.retryClipboard = [self] {
        if (self && self->clipboard_)
            launchTask(self->clipboard_->retryPending(), {});
    };
    actions.discardClipboard = [self] {
        if (self)
            self->confirmDiscardClipboard();
    };
    actions.chooseCaptureFolder = [self] {
        if (self && self->capture_)
            self->capture_->chooseFolder();
    };
    actions.toggleCapture = [self] {
        if (self && self->capture_)
            self->capture_->toggleEnabled();
    };
    actions.retryCapture = [self] {
        if (self && self->capture_)
            self->capture_->retryPending();
    };
    actions.retryMarkup = [] { launchTask(Markup::shared().retrySaving(), {}); };
    actions.reviewPending = [self] {
        if (self && self->recovery_)
            launchTask(self->recovery_->show(std::nullopt), {});
    };
    actions.toggleSound = [self] {
        if (!self)
            return;
        const QString key = QString::fromLatin1(EventSound::soundOffKey);
        self->defaults_->setValue(key, !self->defaults_->boolValue(key));
    };
    actions.quit = [self] {
        if (self)
            QTimer::singleShot(0, self, [self] {
                if (self)
                    self->requestQuit();
            });
    };
    if (interruptedLaunchAlert && !hasWorkflow()) {
        actions.offerRecoveryAlert = [self] {
            if (!self || !self->interruptedLaunchAlert)
                return;
            const auto [error, allowRecovery] = *self->interruptedLaunchAlert;
            self->interruptedLaunchAlert.reset();
            self->presentRecovery(error, allowRecovery);
        };
    }
    return actions;
}

bool AppDelegate::applicationShouldTerminate()
{
    const AlertRunner runAlert = options_.terminationResponse
        ? options_.terminationResponse
        : AlertRunner([line = QPointer<Line>(line_)](Alert& alert) { return line ? line->runAlert(alert) : 0; });
    return mayTerminate(runAlert);
}

bool AppDelegate::mayTerminate(const AlertRunner& runAlert)
{
    QuitGate::Participants participants;
    participants.detail = detail_.get();
    participants.noteEditor = noteEditor_.get();
    participants.textEditor = textEditor_.get();
    Markup& markup = Markup::shared();
    participants.markup = QuitGate::MarkupSession{markup.isEditing(), markup.hasPendingResult(),
        markup.canRetrySaving(), [] { launchTask(Markup::shared().retrySaving(), {}); },
        [] { Markup::shared().abandon(); }};
    if (clipboard_) {
        const std::weak_ptr<ClipboardImportService> service = clipboard_;
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
    QCoreApplication::quit();
}

void AppDelegate::commitDataRequest(QSessionManager& manager)
{
    // Without leave to ask, unfinished work simply keeps the session from ending.
    const bool mayQuit = manager.allowsInteraction() ? applicationShouldTerminate()
                                                     : mayTerminate([](Alert&) { return Alert::cancelResponse; });
    manager.release();
    if (!mayQuit)
        manager.cancel();
}

} // namespace tolvex
