#include "Velmarin/Shell/AppDelegate.h"

#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Platform/CanberraSound.h"
#include "Velmarin/Platform/FileManagerReveal.h"
#include "Velmarin/Platform/SettingsUserDefaults.h"
#include "Velmarin/Platform/TerminationSignals.h"
#include "Velmarin/Platform/X11ButtonPresses.h"
#include "Velmarin/Platform/X11DesktopChanges.h"
#include "Velmarin/Platform/X11HotKeyBackend.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Shell/Alert.h"
#include "Velmarin/Shell/AppLocalizer.h"
#include "Velmarin/Shell/CapturePresentation.h"
#include "Velmarin/Shell/CommandPath.h"
#include "Velmarin/Shell/EventSound.h"
#include "Velmarin/Shell/FileChooser.h"
#include "Velmarin/Shell/HotKey.h"
#include "Velmarin/Shell/IntakeSettingsController.h"
#include "Velmarin/Shell/Markup.h"
#include "Velmarin/Shell/MaterialActions.h"
#include "Velmarin/Windows/MaterialDetailController.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Shell/PanelWindow.h"
#include "Velmarin/Shell/QuitGate.h"
#include "Velmarin/Shell/ShelfPresentation.h"
#include "Velmarin/Shell/StandardShortcuts.h"
#include "Velmarin/Shell/StatusItem.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/TextEditorController.h"
#include "Velmarin/Shell/WorkflowAlerts.h"
#include "Velmarin/Shell/WorkflowRecoveryController.h"

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
        store_ = std::make_unique<MaterialStore>(environment_.dataRoot, std::make_shared<SystemFileOperations>(),
            StorageBudget{maxFileBytes, maxMaterialBytes, minimumFreeBytes});
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
    // The presentation and the controllers hold references into the line.
    clipboardTimer_.stop();
    cancellables_.clear();
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
    panel_ = options_.makePanel ? options_.makePanel(*line_) : std::make_unique<PanelWindow>();
    presentation_ = std::make_unique<ShelfPresentation>(*line_, *panel_, system_);
    presentation_->place(system_.screenUnderPointer());
    capturePresentation_ = std::make_unique<CapturePresentation>(*line_, *presentation_, *panel_, system_, *sound_,
        *defaults_,
        CapturePresentation::Hooks{{}, {}, {}, [](const PresentationScreen& screen) {
                                       for (const QScreen* candidate : QGuiApplication::screens()) {
                                           if (candidate->name() == screen.name)
                                               return candidate->devicePixelRatio();
                                       }
                                       return qreal(1);
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
            {},
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

QCoro::Task<void> AppDelegate::launch()
{
    const QPointer<AppDelegate> self(this);
    std::exception_ptr failure;
    try {
        co_await line_->load();
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

    // A second activation (after a restore) first stops the first one's intake.
    clipboardTimer_.stop();

    Markup::shared().privacyLine = line_;

    const auto presentError = [self](std::exception_ptr error) {
        if (self)
            self->presentActionError(error);
    };

    actions_ = std::make_unique<MaterialActions>(*line_, environment_.dataRoot);
    actions_->onError = presentError;
    line_->onPrepareDrag = [self](const Pegged& card) -> QCoro::Task<std::shared_ptr<QMimeData>> {
        if (!self || !self->actions_)
            throw StoreError::invalidSource();
        co_return co_await self->actions_->dragProvider(card);
    };

    // The editors reach the store the line was made over.
    MaterialStore* material = store_.get();
    if (!material) {
        if (auto* lineStore = dynamic_cast<MaterialLineStore*>(&line_->store()))
            material = &lineStore->store();
    }
    editorStore_ = std::make_unique<MaterialEditorStore>(material);
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
    detail_ = std::make_unique<MaterialDetailController>(*line_, *editorStore_, detailActions, *textEditor_);
    detail_->onError = presentError;

    recovery_ = std::make_unique<WorkflowRecoveryController>(*line_, *actions_);
    recovery_->onError = presentError;
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

    intakeSettings_ = std::make_unique<IntakeSettingsController>(nullptr, nullptr, environment_.dataRoot,
        lineStore_.get(), line_, hotKey_.get());
    line_->canOpenIntakeSettings = true;
    line_->openSettingsAction = [self] {
        if (self)
            self->openSettings(0);
    };

    refreshIntakeStatus();
}

void AppDelegate::presentRecovery(std::exception_ptr error, bool allowRecovery)
{
    bool offerRestore = false;
    if (allowRecovery) {
        try {
            std::rethrow_exception(error);
        } catch (const StoreError& storeError) {
            offerRestore = storeError.code() == StoreError::Code::recoveryRequired
                || storeError.code() == StoreError::Code::invalidSnapshot;
        } catch (...) {
        }
    }

    const Localizer localizer = appLocalizer();
    Alert alert;
    alert.setTitle(localizer.string(MessageKey::recoveryTitle));
    alert.setMessage(localizer.string(MessageKey::recoveryMessage));
    if (offerRestore)
        alert.addButton(localizer.string(MessageKey::recoveryPrevious));
    alert.addButton(localizer.string(MessageKey::revealWorkspace));
    alert.addButton(localizer.string(MessageKey::quit));
    const QPointer<AppDelegate> self(this);
    const int response = runAlert(alert);
    if (!self)
        return;

    const int reveal = Alert::firstButtonResponse + (offerRestore ? 1 : 0);
    if (response == Alert::cancelResponse) {
        // Cut short by the privacy cover: without a way back the program
        // would stay without a workflow for the rest of the run.
        interruptedLaunchAlert = std::make_pair(error, allowRecovery);
    } else if (offerRestore && response == Alert::firstButtonResponse) {
        launchTask(restorePrevious(), {});
    } else if (response == reveal) {
        revealInFileManager(environment_.dataRoot);
    } else {
        requestQuit();
    }
}

QCoro::Task<void> AppDelegate::restorePrevious()
{
    const QPointer<AppDelegate> self(this);
    std::exception_ptr failure;
    WorkspaceSnapshot restored;
    try {
        if (options_.restorePrevious)
            restored = co_await options_.restorePrevious();
        else if (store_)
            restored = co_await store_->restorePreviousSnapshot();
        else
            throw StoreError::recoveryRequired();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        presentRecovery(failure, false);
        co_return;
    }
    co_await line_->render(restored);
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
    capturePresentation_ = std::make_unique<CapturePresentation>(*line_, *presentation_, *panel_, system_, *sound_,
        *defaults_,
        CapturePresentation::Hooks{{}, {}, {}, [](const PresentationScreen& screen) {
                                       for (const QScreen* candidate : QGuiApplication::screens()) {
                                           if (candidate->name() == screen.name)
                                               return candidate->devicePixelRatio();
                                       }
                                       return qreal(1);
                                   }});
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
    const StatusMenu::State state = menuState();
    line_->canReceiveInput = state.clipboard && state.clipboard->canReceiveManual;
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
    state.markupCanRetry = Markup::shared().canRetrySaving;
    state.soundOff = defaults_->boolValue(QString::fromLatin1(EventSound::soundOffKey));
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
        if (self && !self->line_->isCovered())
            self->showLine();
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
    participants.markup = &Markup::shared();
    return QuitGate::requestTermination(participants, runAlert);
}

void AppDelegate::applicationWillTerminate()
{
    if (terminated_)
        return;
    terminated_ = true;
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
