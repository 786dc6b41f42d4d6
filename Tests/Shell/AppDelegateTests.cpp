#include "Intake/CaptureTesting.h"
#include "Shell/DelegateScene.h"
#include "Store/StoreTesting.h"
#include "Support/DataRootBuilder.h"
#include "Support/ImageFixtures.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Intake/CaptureFolderCoordinator.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Platform/SystemPasteboard.h"
#include "Velmarin/Shell/AppIntake.h"
#include "TolvexCore/Model/UnexpectedEntryError.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/LinePanel.h"
#include "Velmarin/Shelf/LinePanelAccessible.h"
#include "Velmarin/Shell/LinePanelPresentation.h"
#include "Velmarin/Shell/ShelfPresentation.h"

#include <QAccessible>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

using LaunchScene = testing::DelegateScene;

TEST(AppDelegate, LaunchLoadsOrOffersRecovery)
{
    const QString recovery = appLocalizer().string(MessageKey::recoveryTitle);
    const auto fails = [](const StoreError& error) { return std::make_exception_ptr(error); };
    struct Case {
        const char* name;
        std::exception_ptr loadError;
        std::deque<int> answers;
        std::optional<StoreError> restoreError;
        std::vector<int> buttonsShown;
        bool workflow;
        bool revealMends = false;
        bool restorable = true;
    };
    const std::vector<Case> cases = {
        {"loads", nullptr, {}, std::nullopt, {}, true},
        {"damaged snapshot restored", fails(StoreError::invalidSnapshot()), {1000}, std::nullopt, {3}, true},
        {"restore fails: asked again without restore", fails(StoreError::recoveryRequired()), {1000, 0},
            StoreError::recoveryRequired(), {3, 2}, false},
        {"other errors offer no restore", fails(StoreError::unsupportedSchema()), {0}, std::nullopt, {2}, false},
        // The store knows beforehand that a restore would not load.
        {"restore that would fail is not offered", fails(StoreError::invalidSnapshot()), {0}, std::nullopt, {2}, false,
            false, false},
        // After the folder was shown the alert comes back and can load again.
        {"shown, mended, loaded again", fails(StoreError::invalidPath()), {1000, 1001}, std::nullopt, {2, 3}, true,
            true},
        {"shown, still broken", fails(StoreError::invalidPath()), {1000, 1001, 0}, std::nullopt, {2, 3, 3}, false},
        {"restore fails, then shown and mended", fails(StoreError::invalidSnapshot()), {1000, 1000, 1001},
            StoreError::recoveryRequired(), {3, 2, 3}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LaunchScene scene(c.loadError, c.answers, c.restoreError);
        scene.revealMends = c.revealMends;
        scene.restorable = c.restorable;
        ASSERT_TRUE(testing::waitUntil(
            [&] { return scene.delegate->hasWorkflow() || scene.shown.size() >= c.buttonsShown.size(); }));
        testing::waitUntil([&] { return scene.delegate->hasWorkflow() == c.workflow; }, 2000);
        EXPECT_EQ(scene.delegate->hasWorkflow(), c.workflow);
        ASSERT_EQ(scene.shown.size(), c.buttonsShown.size());
        for (std::size_t index = 0; index < scene.shown.size(); ++index) {
            EXPECT_EQ(scene.shown[index].title, recovery);
            EXPECT_EQ(scene.shown[index].buttons, c.buttonsShown[index]);
            // The text speaks of a restore only beside its button.
            const bool restores
                = scene.shown[index].buttonTexts.contains(appLocalizer().string(MessageKey::recoveryPrevious));
            EXPECT_EQ(scene.shown[index].message.toStdString(),
                appLocalizer()
                    .string(restores ? MessageKey::recoveryMessage : MessageKey::recoveryMessageWithoutRestore)
                    .toStdString());
        }
        EXPECT_EQ(scene.delegate->menuState().hasNoteEditor, c.workflow);
        EXPECT_EQ(scene.line.canOpenIntakeSettings(), c.workflow);
    }
}

TEST(AppDelegate, AlertCutShortByTheCoverIsOfferedAgainUntilAWorkflowRuns)
{
    LaunchScene scene(std::make_exception_ptr(StoreError::invalidSnapshot()), {0, 1000});
    ASSERT_TRUE(testing::waitUntil([&] { return scene.shown.size() == 1; }));
    ASSERT_TRUE(scene.delegate->interruptedLaunchAlert.has_value());
    StatusMenu::Actions actions = scene.delegate->menuActions();
    ASSERT_TRUE(actions.offerRecoveryAlert);
    actions.offerRecoveryAlert();
    ASSERT_EQ(scene.shown.size(), 2u);
    EXPECT_EQ(scene.shown[1].buttons, 3); // the restore is still offered
    ASSERT_TRUE(testing::waitUntil([&] { return scene.delegate->hasWorkflow(); }));
    EXPECT_FALSE(scene.delegate->menuActions().offerRecoveryAlert);
}

// An entry the store does not own, standing in the way of the load or of a
// command, is named with its folder, so the user knows what to move.
TEST(AppDelegate, AnEntryInTheWayIsNamedWithItsFolder)
{
    const auto stray = [] {
        return std::make_exception_ptr(UnexpectedEntryError(QStringLiteral("Drafts/3F2A"), QStringLiteral("notes.txt")));
    };
    const auto namesIt = [](const QString& message) {
        return message.contains(QStringLiteral("notes.txt")) && message.contains(QStringLiteral("Drafts/3F2A"));
    };
    {
        SCOPED_TRACE("the load");
        LaunchScene scene(stray(), {0});
        scene.restorable = false;
        ASSERT_TRUE(testing::waitUntil([&] { return scene.shown.size() == 1; }));
        EXPECT_TRUE(namesIt(scene.shown[0].message)) << scene.shown[0].message.toStdString();
        EXPECT_EQ(scene.shown[0].buttons, 3); // show the folder, try again, quit
    }
    {
        SCOPED_TRACE("a command");
        LaunchScene scene;
        ASSERT_TRUE(testing::waitUntil([&] { return scene.delegate->hasWorkflow(); }));
        scene.store.applyError = stray();
        const QUuid id = scene.fixture.snapshot.materials.first().id;
        scene.line.onCommand(MaterialCommand::renameMaterial(id, QStringLiteral("renamed")));
        ASSERT_TRUE(testing::waitUntil([&] { return scene.shown.size() == 1; }));
        EXPECT_EQ(scene.shown[0].title, appLocalizer().string(MessageKey::actionFailed));
        EXPECT_TRUE(namesIt(scene.shown[0].message)) << scene.shown[0].message.toStdString();
    }
}

// A folder replaced under the program is named for what happened, and
// loading it again is never offered, not even once it was shown: only a new
// start may claim what stands at its path now.
TEST(AppDelegate, AReplacedRootAsksForANewStart)
{
    const QString text = appLocalizer().string(MessageKey::feedbackRootReplaced);
    LaunchScene scene(std::make_exception_ptr(StoreError::rootReplaced()), {1000, 0});
    scene.revealMends = true;
    ASSERT_TRUE(testing::waitUntil([&] { return scene.shown.size() == 2; }));
    for (const LaunchScene::Shown& shown : scene.shown) {
        EXPECT_EQ(shown.buttons, 2); // show the folder, quit
        EXPECT_TRUE(shown.message.contains(text)) << shown.message.toStdString();
    }
    EXPECT_EQ(scene.reveals, 1);
    EXPECT_FALSE(scene.delegate->hasWorkflow());
}

// The library folder moved away while the program runs: the first intake
// that meets it (a drop through the clipboard's service, a screenshot)
// says so with the remedy to quit, after its own work has returned; the
// other one then only says so in its status.
TEST(AppDelegate, AnIntakeMeetingAReplacedRootOffersToQuitOnce)
{
    for (const bool clipboardFirst : {true, false}) {
        SCOPED_TRACE(clipboardFirst ? "clipboard first" : "screenshot first");
        LaunchScene scene;
        ASSERT_TRUE(testing::waitUntil([&] { return scene.delegate->hasWorkflow(); }));
        QTemporaryDir folder;
        const QString root = folder.filePath(QStringLiteral("Tolvex"));
        testing::DataRootBuilder(root).writeState();
        MaterialStore store(QUrl::fromLocalFile(root), SystemFileOperations::shared(), testing::roomyBudget());
        const QString shots = folder.filePath(QStringLiteral("shots"));
        ASSERT_TRUE(QDir().mkpath(shots));
        const std::unique_ptr<CaptureFolderCoordinator> capture = AppIntake::capture(*scene.delegate, store);
        capture->runPanel = [shots](QFileDialog&) { return std::optional<QString>(shots); };
        capture->chooseFolder();
        ASSERT_TRUE(testing::waitUntil([&] { return capture->isEnabled(); }));
        const std::shared_ptr<ClipboardImportService> clipboard
            = AppIntake::clipboard(*scene.delegate, store, std::make_shared<SystemPasteboard>());
        QCoro::waitFor(clipboard->start());
        ASSERT_TRUE(QDir().rename(root, root + QStringLiteral(" moved")));

        const auto drop = [&] {
            QCoro::waitFor(clipboard->receive({ImportRequest::text(QStringLiteral("dropped"), {})}));
            EXPECT_EQ(clipboard->stateMessage(), MessageKey::feedbackRootReplaced);
        };
        const auto screenshot = [&] {
            testing::writeFile(shots + QStringLiteral("/shot.png"),
                test::encodeImage(test::patternImage(40, 30), "png"));
            ASSERT_TRUE(testing::waitUntil([&] { return capture->status() == MessageKey::feedbackRootReplaced; }));
        };
        clipboardFirst ? drop() : screenshot();
        ASSERT_TRUE(testing::waitUntil([&] { return !scene.shown.empty(); }));
        clipboardFirst ? screenshot() : drop();
        testing::spinFor(300);

        ASSERT_EQ(scene.shown.size(), 1u) << "told once";
        EXPECT_EQ(scene.shown[0].title,
            appLocalizer().string(clipboardFirst ? MessageKey::clipboardRejected : MessageKey::captureImportFailed));
        EXPECT_EQ(scene.shown[0].message, appLocalizer().string(MessageKey::feedbackRootReplaced));
        EXPECT_EQ(scene.shown[0].buttonTexts,
            QStringList({appLocalizer().string(MessageKey::quit), appLocalizer().string(MessageKey::cancel)}));
    }
}

TEST(AppDelegate, CardCommandsReachTheStoreThroughTheCommandPath)
{
    LaunchScene scene;
    ASSERT_TRUE(testing::waitUntil([&] { return scene.delegate->hasWorkflow(); }));
    const QUuid id = scene.fixture.snapshot.materials.first().id;
    scene.store.applied = scene.fixture.snapshot;
    scene.line.onCommand(MaterialCommand::renameMaterial(id, QStringLiteral("renamed")));
    EXPECT_TRUE(testing::waitUntil([&] { return scene.sound->plays == 1; }));
}

// Reduce Motion, as the session states it, holds for screenshots and falls
// as it does for the strip.
TEST(AppDelegate, ReducedMotionKeepsScreenshotsAndFallsStill)
{
    for (const bool reduced : {false, true}) {
        SCOPED_TRACE(reduced ? "reduced motion" : "full motion");
        const testing::EnvironmentOverride motion("TOLVEX_REDUCE_MOTION", reduced ? "1" : nullptr);
        LaunchScene scene;
        ASSERT_TRUE(testing::waitUntil([&] { return scene.delegate->hasWorkflow(); }));
        const LaunchScene::Arrival arrival = scene.arriveScreenshot(QRectF(100, 100, 300, 200));
        ASSERT_TRUE(arrival.landed);
        EXPECT_EQ(arrival.markedFlying, !reduced);
        EXPECT_EQ(arrival.landedInFlight, !reduced);
        EXPECT_EQ(scene.falls(scene.fixture.snapshot.materials.first().id), !reduced);
    }
}

// Assistive technology raising the panel brings the line down, as the hot key does.
TEST(AppDelegate, AccessibilityRaiseRevealsTheLine)
{
    LaunchScene scene;
    auto* shelfPanel = dynamic_cast<LinePanelPresentation*>(scene.delegate->panel());
    ASSERT_NE(shelfPanel, nullptr);
    QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(shelfPanel->panel());
    ASSERT_NE(panel, nullptr);
    ASSERT_NE(panel->actionInterface(), nullptr);
    ASSERT_TRUE(panel->actionInterface()->actionNames().contains(LinePanelAccessible::raiseAction()));
    EXPECT_FALSE(scene.delegate->presentation()->isRevealed);
    panel->actionInterface()->doAction(LinePanelAccessible::raiseAction());
    EXPECT_TRUE(scene.delegate->presentation()->isRevealed);
    EXPECT_TRUE(scene.line.revealed());
}

// The shelf stays on top of everything: a window or alert that comes up
// while the line is down would lie under the cards, so the line pulls up.
TEST(AppDelegate, AWindowComingUpPullsTheLineUpAndPassingWindowsDoNot)
{
    struct Case {
        const char* name;
        Qt::WindowFlags flags;
        bool pullsUp;
    };
    const std::vector<Case> cases = {
        {"a window", Qt::Window, true},
        {"a dialog", Qt::Dialog, true},
        {"a tool window, as a flight is", Qt::Tool | Qt::FramelessWindowHint, false},
        {"a menu", Qt::Popup, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LaunchScene scene;
        scene.delegate->showLine();
        ASSERT_TRUE(scene.delegate->presentation()->isRevealed);
        QWidget window(nullptr, c.flags);
        window.resize(200, 100);
        window.show();
        EXPECT_EQ(scene.delegate->presentation()->isRevealed, !c.pullsUp);
        EXPECT_EQ(scene.line.revealed(), !c.pullsUp);
    }
}

// A quit the program did not ask for itself (the session manager's order to
// end) is a termination: nothing asks, no window is asked to close (an
// editor's would refuse, or end its session), and the program ends once.
TEST(AppDelegate, AQuitItDidNotAskForEndsItWithoutAsking)
{
    LaunchScene scene;
    ASSERT_TRUE(testing::waitUntil([&] { return scene.delegate->hasWorkflow(); }));
    for (int order = 0; order < 2; ++order) {
        QEvent quit(QEvent::Quit);
        QCoreApplication::sendEvent(qApp, &quit);
    }
    EXPECT_TRUE(testing::waitUntil([&] { return scene.terminations > 0; }));
    testing::waitUntil([&] { return scene.terminations > 1; }, 200);
    EXPECT_EQ(scene.terminations, 1);
    EXPECT_TRUE(scene.shown.empty());
}

} // namespace
} // namespace tolvex
