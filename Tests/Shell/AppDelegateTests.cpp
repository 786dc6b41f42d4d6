#include "Shell/DelegateScene.h"
#include "Velmarin/Shelf/LinePanel.h"
#include "Velmarin/Shelf/LinePanelAccessible.h"
#include "Velmarin/Shell/AppLocalizer.h"
#include "Velmarin/Shell/LinePanelPresentation.h"
#include "Velmarin/Shell/ShelfPresentation.h"

#include <QAccessible>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

using LaunchScene = testing::DelegateScene;

TEST(AppDelegate, LaunchLoadsOrOffersRecovery)
{
    const QString recovery = appLocalizer().string(MessageKey::recoveryTitle);
    struct Case {
        const char* name;
        std::optional<StoreError> loadError;
        std::deque<int> answers;
        std::optional<StoreError> restoreError;
        std::vector<int> buttonsShown;
        bool workflow;
        bool revealMends = false;
    };
    const std::vector<Case> cases = {
        {"loads", std::nullopt, {}, std::nullopt, {}, true},
        {"damaged snapshot restored", StoreError::invalidSnapshot(), {1000}, std::nullopt, {3}, true},
        {"restore fails: asked again without restore", StoreError::recoveryRequired(), {1000, 0},
            StoreError::recoveryRequired(), {3, 2}, false},
        {"other errors offer no restore", StoreError::unsupportedSchema(), {0}, std::nullopt, {2}, false},
        // After the folder was shown the alert comes back and can load again.
        {"shown, mended, loaded again", StoreError::invalidPath(), {1000, 1001}, std::nullopt, {2, 3}, true, true},
        {"shown, still broken", StoreError::invalidPath(), {1000, 1001, 0}, std::nullopt, {2, 3, 3}, false},
        {"restore fails, then shown and mended", StoreError::invalidSnapshot(), {1000, 1000, 1001},
            StoreError::recoveryRequired(), {3, 2, 3}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LaunchScene scene(c.loadError, c.answers, c.restoreError);
        scene.revealMends = c.revealMends;
        ASSERT_TRUE(testing::waitUntil(
            [&] { return scene.delegate->hasWorkflow() || scene.shown.size() >= c.buttonsShown.size(); }));
        testing::waitUntil([&] { return scene.delegate->hasWorkflow() == c.workflow; }, 2000);
        EXPECT_EQ(scene.delegate->hasWorkflow(), c.workflow);
        ASSERT_EQ(scene.shown.size(), c.buttonsShown.size());
        for (std::size_t index = 0; index < scene.shown.size(); ++index) {
            EXPECT_EQ(scene.shown[index].title, recovery);
            EXPECT_EQ(scene.shown[index].buttons, c.buttonsShown[index]);
        }
        EXPECT_EQ(scene.delegate->menuState().hasNoteEditor, c.workflow);
        EXPECT_EQ(scene.line.canOpenIntakeSettings(), c.workflow);
    }
}

TEST(AppDelegate, AlertCutShortByTheCoverIsOfferedAgainUntilAWorkflowRuns)
{
    LaunchScene scene(StoreError::invalidSnapshot(), {0, 1000});
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

TEST(AppDelegate, CardCommandsReachTheStoreThroughTheCommandPath)
{
    LaunchScene scene(std::nullopt, {});
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

} // namespace
} // namespace tolvex
