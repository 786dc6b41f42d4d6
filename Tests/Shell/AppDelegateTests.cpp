#include "Shell/ShellTesting.h"
#include "Support/EventLoopWait.h"
#include "Velmarin/Shell/Alert.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Shell/AppLocalizer.h"

#include <QAbstractButton>
#include <QPromise>

#include <gtest/gtest.h>

#include <deque>

namespace tolvex {
namespace {

struct Shown {
    QString title;
    int buttons;
};

// A delegate over a line whose load answers as the case says, with every
// alert answered from a script.
struct LaunchScene {
    explicit LaunchScene(std::optional<StoreError> loadError, std::deque<int> answers,
        std::optional<StoreError> restoreError = std::nullopt)
        : answers(std::move(answers))
    {
        fixture.add(QStringLiteral("card"));
        store.stored = fixture.snapshot;
        store.loadError = loadError;
        AppDelegate::Options options;
        options.line = &line;
        options.sound = sound;
        options.runAlert = [this](Alert& alert) {
            shown.push_back({alert.window()->text(), static_cast<int>(alert.window()->buttons().size())});
            if (this->answers.empty())
                return 0;
            const int answer = this->answers.front();
            this->answers.pop_front();
            return answer;
        };
        options.restorePrevious = [this, restoreError] {
            if (restoreError)
                return QtFuture::makeExceptionalFuture<WorkspaceSnapshot>(*restoreError);
            store.loadError.reset();
            return QtFuture::makeReadyFuture(fixture.snapshot);
        };
        delegate = std::make_unique<AppDelegate>(
            AppEnvironment{false, QUrl::fromLocalFile(fixture.folder.path())}, std::move(options));
        delegate->applicationWillFinishLaunching();
        delegate->applicationDidFinishLaunching();
    }

    testing::ShelfFixture fixture;
    testing::ScriptedStore store{fixture};
    testing::MemoryUserDefaults defaults;
    testing::CountingThumbnails thumbnails;
    Line line{store, defaults, thumbnails.maker()};
    std::shared_ptr<testing::CountingSound> sound = std::make_shared<testing::CountingSound>();
    std::deque<int> answers;
    std::vector<Shown> shown;
    std::unique_ptr<AppDelegate> delegate;
};

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
    };
    const std::vector<Case> cases = {
        {"loads", std::nullopt, {}, std::nullopt, {}, true},
        {"damaged snapshot restored", StoreError::invalidSnapshot(), {1000}, std::nullopt, {3}, true},
        {"restore fails: asked again without restore", StoreError::recoveryRequired(), {1000, 0},
            StoreError::recoveryRequired(), {3, 2}, false},
        {"other errors offer no restore", StoreError::unsupportedSchema(), {0}, std::nullopt, {2}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LaunchScene scene(c.loadError, c.answers, c.restoreError);
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

} // namespace
} // namespace tolvex
