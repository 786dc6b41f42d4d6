#include "ShelfTesting.h"

#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/ModalRegistration.h"

#include <QFileDialog>
#include <QTimer>

namespace tolvex {
namespace {

using namespace testing;

class LinePrivacyTest : public ::testing::Test {
protected:
    LinePrivacyTest() : line(store, defaults, thumbnails.maker())
    {
        fixture.add(QStringLiteral("a"));
        fixture.add(QStringLiteral("b"));
        visible = fixture.snapshot;
        hidden = visible;
        hidden.privacyHidden = true;
    }

    // Lets every pending payload call answer, so renders finish.
    void answerRenders()
    {
        for (const auto& call : store.payloadCalls) {
            if (!call->promise.future().isFinished())
                ControlledLineStore::settle(*call, fixture.locations(call->records));
        }
        QCoreApplication::processEvents();
    }
    void showCards()
    {
        QCoro::Task<void> task = line.render(visible);
        answerRenders();
        ASSERT_TRUE(waitUntil([&] { return task.isReady(); }));
    }
    bool requested(std::size_t index, bool hide) const
    {
        const auto* command = std::get_if<MaterialCommand::SetPrivacyHidden>(&store.applies.at(index)->command.value);
        return command && command->hidden == hide;
    }
    bool savesSettled() const { return line.privacyTask().isFinished(); }

    ControlledLineStore store;
    MemoryUserDefaults defaults;
    CountingThumbnails thumbnails;
    ShelfFixture fixture;
    WorkspaceSnapshot visible;
    WorkspaceSnapshot hidden;
    Line line;
};

TEST_F(LinePrivacyTest, HideThenShowBeforeTheHideIsSavedStaysCoveredUntilTheShowIsSaved)
{
    showCards();
    line.keyboardID = line.items->last().id;
    line.setPrivacyHidden(true);
    EXPECT_TRUE(line.isCovered());
    EXPECT_TRUE(line.items->isEmpty());
    EXPECT_TRUE(line.privacySaving());
    line.setPrivacyHidden(false);
    EXPECT_EQ(line.privacyEpoch(), 1u);
    // The show waits for the hide to reach the store first.
    ASSERT_EQ(store.applies.size(), 1u);
    EXPECT_TRUE(requested(0, true));

    ControlledLineStore::succeed(*store.applies[0], hidden);
    ASSERT_TRUE(waitUntil([&] { return store.applies.size() == 2; }));
    EXPECT_TRUE(requested(1, false));
    EXPECT_TRUE(line.isCovered()); // the superseded hide changed nothing

    ControlledLineStore::succeed(*store.applies[1], visible);
    ASSERT_TRUE(waitUntil([&] {
        answerRenders();
        return savesSettled();
    }));
    EXPECT_FALSE(line.isCovered());
    EXPECT_EQ(line.items->size(), 2);
    EXPECT_EQ(line.keyboardID(), line.items->last().id); // restored on uncovering
    EXPECT_FALSE(line.privacySaving());
    EXPECT_FALSE(line.privacySaveFailed());
    EXPECT_EQ(line.privacyEpoch(), 1u);
}

TEST_F(LinePrivacyTest, OnlyTheLatestRequestReachesTheLineAndSupersededOnesSkipTheStore)
{
    line.setPrivacyHidden(true);
    line.setPrivacyHidden(false);
    line.setPrivacyHidden(true);
    ASSERT_EQ(store.applies.size(), 1u);
    ControlledLineStore::fail(*store.applies[0], StoreError::unavailableSpace());
    ASSERT_TRUE(waitUntil([&] { return store.applies.size() == 2; }));
    // The second request was superseded before its turn: it never reached the store.
    EXPECT_TRUE(requested(1, true));
    EXPECT_FALSE(line.privacySaveFailed()); // the first request's failure is not the latest
    ControlledLineStore::succeed(*store.applies[1], hidden);
    ASSERT_TRUE(waitUntil([&] { return savesSettled(); }));
    EXPECT_TRUE(line.isCovered());
    EXPECT_FALSE(line.privacySaving());
    EXPECT_EQ(store.applies.size(), 2u);
    EXPECT_EQ(line.privacyEpoch(), 1u);
}

TEST_F(LinePrivacyTest, AFailedShowKeepsTheCoverAndAsksForRetry)
{
    line.setPrivacyHidden(true);
    ControlledLineStore::succeed(*store.applies[0], hidden);
    ASSERT_TRUE(waitUntil([&] { return savesSettled(); }));
    line.setPrivacyHidden(false);
    ControlledLineStore::fail(*store.applies[1], StoreError::operationInProgress());
    ASSERT_TRUE(waitUntil([&] { return savesSettled(); }));

    EXPECT_TRUE(line.isCovered());
    EXPECT_TRUE(line.privacySaveFailed());
    EXPECT_FALSE(line.privacySaving());
    EXPECT_EQ(line.inputFeedback(), appLocalizer().string(MessageKey::privacySaveFailed));
    EXPECT_FALSE(line.privacyDesired());
    // A stale visible snapshot rendered now still shows the cover.
    finish(line.render(visible));
    EXPECT_TRUE(line.isCovered());
}

TEST_F(LinePrivacyTest, LoadingAHiddenWorkspaceCoversWithoutAskingForPayloads)
{
    store.loadResult = hidden;
    finish(line.load());
    EXPECT_TRUE(line.isCovered());
    EXPECT_EQ(line.privacyOverride(), std::optional<bool>(true));
    EXPECT_EQ(line.privacyEpoch(), 1u);
    EXPECT_TRUE(store.payloadCalls.empty());
    EXPECT_TRUE(store.applies.empty());
}

TEST_F(LinePrivacyTest, CoverEndsRegisteredModalsAndTheirAnswersCountAsCancelled)
{
    // An alert asked for while covered is not shown.
    {
        line.coverImmediately();
        Alert alert;
        alert.addButton(QStringLiteral("go"));
        bool shown = false;
        QTimer::singleShot(0, [&] { shown = alert.window()->isVisible(); });
        EXPECT_EQ(line.runAlert(alert), Alert::cancelResponse);
        QCoreApplication::processEvents();
        EXPECT_FALSE(shown);
    }
    LinePrivacyTest::showCards();
    // An alert open when the cover comes answers 0 and is blanked.
    {
        Alert alert;
        alert.setTitle(QStringLiteral("material title"));
        alert.addButton(QStringLiteral("go"));
        QTimer::singleShot(0, [&] { line.setPrivacyHidden(true); });
        EXPECT_EQ(line.runAlert(alert), Alert::cancelResponse);
        EXPECT_FALSE(alert.window()->isVisible());
        EXPECT_EQ(alert.window()->windowTitle(), appLocalizer().string(MessageKey::contentHidden));
        EXPECT_TRUE(line.ownedModals().isEmpty());
    }
    // A file dialog is rejected like a cancelled panel.
    {
        ControlledLineStore::succeed(*store.applies[0], hidden);
        ASSERT_TRUE(waitUntil([&] { return savesSettled(); }));
        line.setPrivacyHidden(false);
        ControlledLineStore::succeed(*store.applies[1], visible);
        ASSERT_TRUE(waitUntil([&] {
            answerRenders();
            return savesSettled();
        }));
        ASSERT_FALSE(line.isCovered());
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        ModalRegistration registration(line, &dialog);
        EXPECT_FALSE(registration.cancelled());
        QTimer::singleShot(0, [&] { line.coverImmediately(); });
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);
        EXPECT_TRUE(registration.cancelled());
        EXPECT_EQ(line.ownedModals().size(), 1);
    }
    EXPECT_TRUE(line.ownedModals().isEmpty());
}

} // namespace
} // namespace tolvex
