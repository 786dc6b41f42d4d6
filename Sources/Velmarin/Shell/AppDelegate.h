#pragma once

#include "Velmarin/Common/Published.h"
#include "Velmarin/Platform/QtPresentationSystem.h"
#include "Velmarin/Platform/RunningInstance.h"
#include "Velmarin/Shell/AppEnvironment.h"
#include "Velmarin/Shell/MaterialWorkflow.h"
#include "Velmarin/Shell/ShelfDisplay.h"
#include "Velmarin/Shell/StatusMenu.h"

#include "TolvexCore/Files/DataRootLock.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Texts/MessageKey.h"

#include <QCoro/QCoroTask>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tolvex {

class Alert;
class CaptureFolderCoordinator;
class CapturePresentation;
class ClipboardImportService;
class ClipboardPollTrigger;
class CommandPath;
class EventSound;
class HotKey;
class IntakeSettingsController;
class LaunchRecovery;
class Line;
class LineIntakeController;
class LineStore;
class MaterialDetailController;
class MaterialStore;
class NoteEditorController;
class PresentationPanel;
class ShelfPresentation;
class StatusItem;
class TextEditorController;
class UserDefaults;
class WorkflowAlerts;
class WorkflowRecoveryController;

// The coordinator of the running program: its launch and the wiring of its
// parts. It owns the shelf on the screen (ShelfDisplay), the status item,
// the hot key and the timers from launch on, and, once the workspace has
// loaded, the windows and actions over it (MaterialWorkflow) and the intake
// services (made by AppIntake), each wired to the line and to the
// delegate's alerts (AppAlerts). A failed load runs the launch-failure
// alert (LaunchRecovery); the menus are filled by AppMenus and every way of
// quitting asks AppQuit. Every callback it hands out holds it weakly. GUI
// thread only.
class AppDelegate final : public QObject {
public:
    using AlertRunner = std::function<int(Alert&)>;
    using PanelFactory = ShelfDisplay::PanelFactory;

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
        // Ends the program once a termination has kept the editors' work;
        // without one the event loops end and the process ends within
        // terminationBound, whatever still runs then.
        std::function<void()> endTerminated;
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
    // A termination the user did not ask for waits this long for the
    // editors to keep their work, and ends the process after the second
    // bound whatever is still running then.
    static constexpr std::chrono::milliseconds terminationKeepBound{3000};
    static constexpr std::chrono::milliseconds terminationBound{4500};

    explicit AppDelegate(AppEnvironment environment);
    AppDelegate(AppEnvironment environment, Options options);
    ~AppDelegate() override;

    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    // Every way of quitting passes here; true when the program may end.
    bool applicationShouldTerminate();
    void applicationWillTerminate();
    // Asks the quit checks, and ends every event loop when they allow it,
    // without asking the windows to close.
    void requestQuit();
    // A termination the user did not ask for (a signal, the session
    // manager's quit, the platform's): it cannot be refused, so nothing
    // asks. The intake stops, the editors keep their work (AppQuit::keepWork)
    // and the program ends within terminationBound, its editors still open.
    void terminateKeepingWork();

    void showLine();
    void toggle();
    void refreshIntakeStatus();
    void chooseFiles();
    void openSettings(int page);
    // Runs a task; its failure goes to the action alert while the delegate lives.
    void launchAction(QCoro::Task<void> task);
    // Offers the launch-failure alert for the error of a failed load.
    void presentRecovery(std::exception_ptr error, bool allowRecovery);
    // The delegate's own alerts: through Options::runAlert when set, else
    // through the line.
    int runAlert(Alert& alert);
    // A failed action's alert, and the capture folder's, each with its remedy.
    void presentActionError(std::exception_ptr error);
    void presentCaptureError(std::exception_ptr error);
    // An intake's failure that only the user can mend, titled `title`; once.
    void presentIntakeError(std::exception_ptr error, MessageKey title);

    // ---- Inspection ----
    Line& line() const { return *line_; }
    const AppEnvironment& environment() const { return environment_; }
    UserDefaults& defaults() const { return *defaults_; }
    ShelfPresentation* presentation() const { return display_->presentation(); }
    PresentationPanel* panel() const { return display_->panel(); }
    CapturePresentation* capturePresentation() const { return display_->capturePresentation(); }
    HotKey* hotKey() const { return hotKey_.get(); }
    StatusItem* statusItem() const { return statusItem_.get(); }
    bool hasWorkflow() const { return workflow_ != nullptr; }
    ClipboardImportService* clipboard() const { return clipboard_.get(); }
    const std::shared_ptr<ClipboardImportService>& clipboardService() const { return clipboard_; }
    CaptureFolderCoordinator* capture() const { return capture_.get(); }
    LineIntakeController* lineIntake() const { return lineIntake_.get(); }
    // The controllers of the workflow; none before the workspace has loaded.
    WorkflowRecoveryController* recovery() const { return workflow_ ? workflow_->recovery() : nullptr; }
    MaterialDetailController* detail() const { return workflow_ ? workflow_->detail() : nullptr; }
    TextEditorController* textEditor() const { return workflow_ ? workflow_->textEditor() : nullptr; }
    NoteEditorController* noteEditor() const { return workflow_ ? workflow_->noteEditor() : nullptr; }
    IntakeSettingsController* intakeSettings() const { return intakeSettings_.get(); }
    StatusMenu::State menuState() const;
    StatusMenu::Actions menuActions();

    // The launch-failure alert (and its restore) is offered from the status
    // menu while this holds the error of an alert the privacy cover cut short.
    std::optional<std::pair<std::exception_ptr, bool>> interruptedLaunchAlert;

protected:
    // Takes a quit that reaches the application without requestQuit for a
    // termination: it would otherwise close every window, and an editor's
    // window either refuses (the program stays) or ends its session.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QCoro::Task<void> launch();
    void activateMaterialWorkflow();
    // The one store of the program; none when the delegate was handed a line over another.
    MaterialStore* materialStore() const;

    AppEnvironment environment_;
    Options options_;
    std::unique_ptr<MaterialStore> store_;
    std::unique_ptr<LineStore> lineStore_;
    std::unique_ptr<UserDefaults> defaults_;
    std::unique_ptr<Line> ownedLine_;
    Line* line_ = nullptr;
    std::shared_ptr<EventSound> sound_;

    std::unique_ptr<ShelfDisplay> display_;
    std::unique_ptr<LaunchRecovery> launchRecovery_;
    std::unique_ptr<HotKey> hotKey_;
    std::unique_ptr<StatusItem> statusItem_;
    std::vector<Subscription> cancellables_;
    std::unique_ptr<WorkflowAlerts> alerts_;
    std::unique_ptr<CommandPath> commandPath_;

    QTimer clipboardTimer_;
    // Polls at once when the clipboard changes; the timer catches what it misses.
    std::unique_ptr<ClipboardPollTrigger> clipboardTrigger_;
    std::unique_ptr<CaptureFolderCoordinator> capture_;
    std::shared_ptr<ClipboardImportService> clipboard_;
    std::unique_ptr<LineIntakeController> lineIntake_;
    std::unique_ptr<MaterialWorkflow> workflow_;
    std::unique_ptr<IntakeSettingsController> intakeSettings_;
    std::unique_ptr<RunningInstance> runningInstance_;
    // The folder the start-up claim holds, which a later start reaches this
    // program through; none when the path named another item by the time
    // the delegate looked.
    std::optional<RunningInstance::Folder> heldFolder_;
    bool terminated_ = false;
    bool terminating_ = false;
    // Set as requestQuit ends the event loop, so that its quit is its own.
    bool quitRequested_ = false;
};

} // namespace tolvex
