#pragma once

#include "Velmarin/Common/Published.h"
#include "Velmarin/Shelf/Pegged.h"
#include "Velmarin/Platform/QtPresentationSystem.h"
#include "Velmarin/Shell/AppEnvironment.h"
#include "Velmarin/Shell/StatusMenu.h"

#include "TolvexCore/Files/DataRootLock.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QCoro/QCoroTask>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMimeData;
class QSessionManager;

namespace tolvex {

class Alert;
class CaptureFolderCoordinator;
class ClipboardImportService;
class LineIntakeController;
class CapturePresentation;
class CommandPath;
class EditorStore;
class EventSound;
class HotKey;
class IntakeSettingsController;
class Line;
class LineStore;
class MaterialActions;
class MaterialDetailController;
class MaterialStore;
class NoteEditorController;
class PresentationPanel;
class RunningInstance;
class ShelfPresentation;
class StatusItem;
class TextEditorController;
class UserDefaults;
class WorkflowAlerts;
class WorkflowRecoveryController;
class X11ButtonPresses;
class X11DesktopChanges;

// The coordinator of the running program. It owns the shelf's panel, the
// status item, the hot key and the timers from launch on, and, once the
// workspace has loaded, one of every controller and intake service, each
// wired to the line and to the delegate's alerts. Every callback it hands
// out holds it weakly. GUI thread only.
class AppDelegate final : public QObject {
public:
    using AlertRunner = std::function<int(Alert&)>;
    using PanelFactory = std::function<std::unique_ptr<PresentationPanel>(Line&)>;

    struct Options {
        // Without a line, the delegate makes the store and the line for the data root.
        Line* line = nullptr;
        // Quit checks run their alerts through this when set.
        AlertRunner terminationResponse;
        // Without one the EWMH window manager is asked.
        QtPresentationSystem::StateOfScreen fullScreenState;
        PanelFactory makePanel;
        // Without one the desktop's event sound plays.
        std::shared_ptr<EventSound> sound;
        // The delegate's own alerts (the launch failure, errors) run through
        // this when set, else through the line.
        AlertRunner runAlert;
        // Puts the previous snapshot back; without one, the store the delegate made.
        std::function<QFuture<WorkspaceSnapshot>()> restorePrevious;
        // Whether that restore would end with a loaded workspace; without
        // one, the store the delegate made.
        std::function<QFuture<bool>()> canRestorePrevious;
        // Shows the data root in the file manager; without one, the desktop's.
        std::function<void(const QUrl&)> revealFolder;
        // The claim taken on the data root at start-up. The store the
        // delegate makes holds it, and a later start on the same root is
        // answered by showing the line.
        std::optional<DataRootLock> rootLock;
    };

    // The budget the program's store works within.
    static constexpr std::int64_t maxFileBytes = 268435456;
    static constexpr std::int64_t maxMaterialBytes = 2147483648;
    static constexpr std::int64_t minimumFreeBytes = 536870912;
    static constexpr int clipboardPollMilliseconds = 500;
    static constexpr double spaceRecheckDelay = 0.8;

    explicit AppDelegate(AppEnvironment environment);
    AppDelegate(AppEnvironment environment, Options options);
    ~AppDelegate() override;

    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    // Every way of quitting passes here; true when the program may end.
    bool applicationShouldTerminate();
    void applicationWillTerminate();
    // Asks the quit checks, and ends the event loop when they allow it.
    void requestQuit();

    void showLine();
    void toggle();
    void refreshIntakeStatus();

    // ---- Inspection ----
    Line& line() const { return *line_; }
    const AppEnvironment& environment() const { return environment_; }
    ShelfPresentation* presentation() const { return presentation_.get(); }
    PresentationPanel* panel() const { return panel_.get(); }
    CapturePresentation* capturePresentation() const { return capturePresentation_.get(); }
    HotKey* hotKey() const { return hotKey_.get(); }
    StatusItem* statusItem() const { return statusItem_.get(); }
    bool hasWorkflow() const { return recovery_ != nullptr; }
    ClipboardImportService* clipboard() const { return clipboard_.get(); }
    CaptureFolderCoordinator* capture() const { return capture_.get(); }
    StatusMenu::State menuState() const;
    StatusMenu::Actions menuActions();

    // The launch-failure alert (and its restore) is offered from the status
    // menu while this holds the error of an alert the privacy cover cut short.
    std::optional<std::pair<std::exception_ptr, bool>> interruptedLaunchAlert;

private:
    QCoro::Task<void> launch();
    // Fails when the workflow's actions are gone.
    static QCoro::Task<std::shared_ptr<QMimeData>> prepareDrag(MaterialActions* actions, Pegged card);
    void activateMaterialWorkflow();
    void presentRecovery(std::exception_ptr error, bool allowRecovery);
    // The launch-failure alert, again and again until the workspace loads
    // or the user quits: a failed restore is not offered again, and once the
    // library folder has been shown the alert offers to load it again.
    QCoro::Task<void> recover(std::exception_ptr error, bool allowRestore, bool offerRetry);
    // Restores the previous snapshot (or loads again), then starts the workflow.
    QCoro::Task<void> reopen(bool restore);
    void presentActionError(std::exception_ptr error);
    void presentCaptureError(std::exception_ptr error);
    void chooseFiles();
    void openSettings(int page);
    void placeOnScreenUnderPointer();
    void onSpaceOrActivationChange();
    // Runs a task; its failure goes to the action alert while the delegate lives.
    void launchAction(QCoro::Task<void> task);
    void commitDataRequest(QSessionManager& manager);
    void confirmDiscardClipboard();
    // The one store of the program; none when the delegate was handed a line over another.
    MaterialStore* materialStore() const;
    bool mayTerminate(const AlertRunner& runAlert);
    int runAlert(Alert& alert);

    AppEnvironment environment_;
    Options options_;
    std::unique_ptr<MaterialStore> store_;
    std::unique_ptr<LineStore> lineStore_;
    std::unique_ptr<UserDefaults> defaults_;
    std::unique_ptr<Line> ownedLine_;
    Line* line_ = nullptr;
    std::shared_ptr<EventSound> sound_;

    QtPresentationSystem system_;
    std::unique_ptr<PresentationPanel> panel_;
    std::unique_ptr<ShelfPresentation> presentation_;
    std::unique_ptr<CapturePresentation> capturePresentation_;
    std::unique_ptr<HotKey> hotKey_;
    std::unique_ptr<StatusItem> statusItem_;
    std::unique_ptr<X11ButtonPresses> clickMonitor_;
    std::unique_ptr<X11DesktopChanges> desktopChanges_;
    std::vector<Subscription> cancellables_;
    std::unique_ptr<WorkflowAlerts> alerts_;
    std::unique_ptr<CommandPath> commandPath_;

    QTimer clipboardTimer_;
    std::unique_ptr<CaptureFolderCoordinator> capture_;
    std::shared_ptr<ClipboardImportService> clipboard_;
    std::unique_ptr<LineIntakeController> lineIntake_;
    std::unique_ptr<MaterialActions> actions_;
    std::unique_ptr<EditorStore> editorStore_;
    std::unique_ptr<TextEditorController> textEditor_;
    std::unique_ptr<NoteEditorController> noteEditor_;
    std::unique_ptr<MaterialDetailController> detail_;
    std::unique_ptr<WorkflowRecoveryController> recovery_;
    std::unique_ptr<IntakeSettingsController> intakeSettings_;
    std::unique_ptr<RunningInstance> runningInstance_;
    bool ownsRoot_ = false;
    bool terminated_ = false;
};

} // namespace tolvex
