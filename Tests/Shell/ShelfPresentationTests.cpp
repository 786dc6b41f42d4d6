#include "Shelf/ShelfTesting.h"
#include "Shell/PresentationTwins.h"
#include "Velmarin/Shell/ShelfPresentation.h"

#include <gtest/gtest.h>

namespace tolvex {
namespace {

using testing::TwinPanel;
using testing::TwinSystem;

const QPointF inLeftBand(640, 10);
const QPointF onLine(640, 100);
const QPointF farAway(640, 700);

class ShelfPresentationTest : public ::testing::Test {
protected:
    ShelfPresentationTest()
    {
        // A menu bar of 30 at the top of the left screen; nothing reserved on the right one.
        system.screenList = {{QStringLiteral("left"), QRectF(0, 0, 1280, 800), QRectF(0, 30, 1280, 770)},
            {QStringLiteral("right"), QRectF(1280, 0, 1000, 800), QRectF(1280, 0, 1000, 800)}};
        system.pointerAt = farAway;
    }

    void setCards(int count)
    {
        QList<Pegged> cards;
        for (int index = 0; index < count; ++index) {
            Pegged card;
            card.id = QUuid::createUuid();
            cards.append(card);
        }
        line.items = cards;
        presentation.itemsChanged();
    }
    // The pointer rests at `point` for `seconds`, sampled by the pointer timer.
    void rest(const QPointF& point, double seconds)
    {
        system.pointerAt = point;
        system.advance(seconds);
    }
    // Cards on the shelf and the line hidden again: the hot zone is armed.
    void armHotZone()
    {
        setCards(2);
        rest(farAway, 3.5);
        ASSERT_FALSE(presentation.isRevealed);
        ASSERT_TRUE(presentation.wanted);
    }

    testing::ControlledLineStore store;
    testing::MemoryUserDefaults defaults;
    Line line{store, defaults};
    TwinSystem system;
    TwinPanel panel{system};
    ShelfPresentation presentation{line, panel, system};
};

TEST_F(ShelfPresentationTest, MenuBarBandIsTheReservedStripOrTheDefault)
{
    EXPECT_EQ(ShelfPresentation::menuBarBand(system.screenList[0]), QRectF(0, 0, 1280, 30));
    EXPECT_EQ(ShelfPresentation::menuBarBand(system.screenList[1]), QRectF(1280, 0, 1000, 24));
    EXPECT_EQ(ShelfPresentation::panelFrame(system.screenList[0]), QRectF(0, 30, 1280, 210));
}

TEST_F(ShelfPresentationTest, HotZoneRevealsAfterAQuarterSecondDwell)
{
    armHotZone();
    const double t = system.clock;
    struct Step {
        QPointF pointer;
        double at;
        bool revealed;
    };
    // 0.24 s then out: nothing; the dwell restarts from zero; 0.25 s reveals.
    const std::vector<Step> steps = {{inLeftBand, t, false}, {inLeftBand, t + 0.24, false}, {farAway, t + 0.3, false},
        {inLeftBand, t + 0.5, false}, {inLeftBand, t + 0.74, false}, {inLeftBand, t + 0.75, true}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.at - t);
        presentation.tick(step.pointer, step.at);
        EXPECT_EQ(presentation.isRevealed, step.revealed);
    }
    EXPECT_TRUE(line.revealed());
    EXPECT_FALSE(presentation.pinned);
}

// With the line up and the pointer resting away from every band the timer
// rests; the dwell, the away delay and a warp into the band keep their times.
TEST_F(ShelfPresentationTest, PointerTimerRestsWhileNothingButThePointerCanChange)
{
    armHotZone();
    int before = system.ticks;
    rest(farAway, 60);
    // A fifth of a second between looks for a warp, not 1/30 s.
    EXPECT_LE(system.ticks - before, 60 * 5 + 1);
    EXPECT_TRUE(system.resting);

    const struct {
        const char* name;
        bool warped;
        double revealedBy; // after the pointer reaches the band: seen, then the dwell in whole ticks
    } moves[] = {{"a device moves it", false, ShelfPresentation::hotZoneDwell + 2.0 / 30},
        {"a program warps it", true, TwinSystem::restInterval + ShelfPresentation::hotZoneDwell + 2.0 / 30}};
    for (const auto& move : moves) {
        SCOPED_TRACE(move.name);
        if (move.warped)
            system.warp(inLeftBand);
        else
            system.pointerAt = inLeftBand;
        const double reached = system.clock;
        while (!presentation.isRevealed && system.clock - reached < 2)
            system.advance(1.0 / 30);
        EXPECT_TRUE(presentation.isRevealed);
        EXPECT_LE(system.clock - reached, move.revealedBy + 1e-6);
        EXPECT_GE(system.clock - reached, ShelfPresentation::hotZoneDwell - 1e-6);
        EXPECT_FALSE(system.resting);
        // Down, every tick counts: away for half a second hides it.
        before = system.ticks;
        rest(farAway, ShelfPresentation::awayDelay - 0.05);
        EXPECT_TRUE(presentation.isRevealed);
        EXPECT_GE(system.ticks - before, 13);
        rest(farAway, 0.1);
        EXPECT_FALSE(presentation.isRevealed);
        rest(farAway, 1);
    }
}

// A line shown by hand stays down while the pointer is away: the timer
// rests, and the pointer coming onto the line ends the pin at once.
TEST_F(ShelfPresentationTest, PointerTimerRestsUnderAManualShowUntilThePointerComes)
{
    setCards(2);
    rest(farAway, 3.5);
    presentation.showLine();
    const int before = system.ticks;
    rest(farAway, 60);
    EXPECT_TRUE(presentation.isRevealed);
    EXPECT_LE(system.ticks - before, 60 * 5 + 1);
    system.pointerAt = onLine;
    system.advance(1.0 / 30);
    EXPECT_FALSE(presentation.pinned);
    EXPECT_FALSE(system.resting);
    rest(farAway, ShelfPresentation::awayDelay + 2.0 / 30);
    EXPECT_FALSE(presentation.isRevealed);
}

TEST_F(ShelfPresentationTest, MenuBarClickHidesAndSilencesTheBandUntilLeft)
{
    armHotZone();
    rest(inLeftBand, 0.3);
    ASSERT_TRUE(presentation.isRevealed);

    presentation.menuBarClick(inLeftBand);
    EXPECT_FALSE(presentation.isRevealed);
    rest(inLeftBand, 5);
    EXPECT_FALSE(presentation.isRevealed);

    rest(farAway, 0.1);
    rest(inLeftBand, 0.3);
    EXPECT_TRUE(presentation.isRevealed);

    presentation.menuBarClick(farAway); // elsewhere: nothing changes
    EXPECT_TRUE(presentation.isRevealed);
}

TEST_F(ShelfPresentationTest, FullScreenAndUnknownScreens)
{
    armHotZone();
    system.states[QStringLiteral("left")] = FullScreen::State::fullScreen;
    rest(inLeftBand, 2);
    EXPECT_FALSE(presentation.isRevealed);
    presentation.showLine();
    EXPECT_FALSE(presentation.isPresent);
    EXPECT_FALSE(presentation.isRevealed);

    // Unknown with a manual show: stays down whatever the pointer does.
    system.states[QStringLiteral("left")] = FullScreen::State::unknown;
    presentation.showLine();
    EXPECT_TRUE(presentation.isPresent && presentation.isRevealed && panel.front);
    rest(onLine, 0.2);
    rest(farAway, 3);
    EXPECT_TRUE(presentation.isRevealed);
    presentation.menuBarClick(inLeftBand);
    EXPECT_FALSE(presentation.isRevealed);
    // Once no longer shown by hand, the next check of the space dismisses the panel.
    presentation.refresh();
    system.advance(0.5);
    EXPECT_FALSE(presentation.isPresent);
    EXPECT_FALSE(panel.front);
}

TEST_F(ShelfPresentationTest, ManualShowStaysUntilEnteredAndLeft)
{
    presentation.showLine();
    ASSERT_TRUE(presentation.isRevealed && presentation.pinned);
    rest(farAway, 3);
    EXPECT_TRUE(presentation.isRevealed);
    rest(onLine, 0.1);
    EXPECT_FALSE(presentation.pinned);
    rest(farAway, 0.4);
    EXPECT_TRUE(presentation.isRevealed);
    rest(farAway, 0.2);
    EXPECT_FALSE(presentation.isRevealed);
    // keepOpen: the empty line stays wanted after the hide.
    rest(farAway, 1);
    EXPECT_TRUE(presentation.wanted && system.pointerTimerRunning());

    presentation.toggle();
    presentation.toggle();
    EXPECT_FALSE(presentation.wanted || presentation.keepOpen || system.pointerTimerRunning());
}

TEST_F(ShelfPresentationTest, KeepConditionsHoldTheLineDown)
{
    struct Case {
        const char* name;
        std::function<void()> hold;
    };
    const std::vector<Case> cases = {
        {"keyboard browsing", [&] { panel.browsing = true; }},
        {"dragging a card", [&] { line.draggingID = QUuid::createUuid(); }},
        {"a drag over the rope", [&] { line.dropCount = 1; }},
        {"a pressed card", [&] { line.pressedID = QUuid::createUuid(); }},
    };
    setCards(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rest(inLeftBand, 0.3);
        ASSERT_TRUE(presentation.isRevealed);
        c.hold();
        rest(farAway, 5);
        EXPECT_TRUE(presentation.isRevealed);
        panel.browsing = false;
        line.draggingID = std::nullopt;
        line.dropCount = 0;
        line.pressedID = std::nullopt;
        rest(farAway, 0.6);
        EXPECT_FALSE(presentation.isRevealed);
    }
}

TEST_F(ShelfPresentationTest, ArrivalsPeekButNotUnderThePrivacyCover)
{
    system.pointerAt = QPointF(1500, 500);
    setCards(1);
    EXPECT_TRUE(presentation.isRevealed);
    EXPECT_EQ(panel.frameNow, QRectF(1280, 0, 1000, 210)); // the pointer's screen
    rest(farAway, 2.4);
    EXPECT_TRUE(presentation.isRevealed);
    rest(farAway, 0.7);
    EXPECT_FALSE(presentation.isRevealed);

    // A pending screen wins over the pointer's.
    presentation.pendingScreen = system.screenList[0];
    system.pointerAt = QPointF(1500, 500);
    setCards(2);
    EXPECT_EQ(panel.frameNow, QRectF(0, 30, 1280, 210));
    EXPECT_FALSE(presentation.pendingScreen);
    rest(farAway, 3.5);

    // Covered: no peek, yet counted; lifting the cover is no arrival.
    line.snapshot.modify([](WorkspaceSnapshot& s) { s.privacyHidden = true; });
    setCards(3);
    EXPECT_FALSE(presentation.isRevealed);
    EXPECT_EQ(presentation.lastLiveCount, 3);
    line.items = QList<Pegged>();
    presentation.itemsChanged();
    line.snapshot.modify([](WorkspaceSnapshot& s) { s.privacyHidden = false; });
    setCards(3);
    EXPECT_FALSE(presentation.isRevealed);
    setCards(4);
    EXPECT_TRUE(presentation.isRevealed);
}

TEST_F(ShelfPresentationTest, EmptyLineStopsBeingWantedAfterTheDelay)
{
    setCards(1);
    rest(farAway, 3.5);
    setCards(0);
    rest(farAway, 0.6);
    EXPECT_TRUE(presentation.wanted);
    rest(farAway, 0.2);
    EXPECT_FALSE(presentation.wanted);
    EXPECT_FALSE(system.pointerTimerRunning());

    // A card back within the delay keeps it wanted.
    setCards(1);
    rest(farAway, 3.5);
    setCards(0);
    rest(farAway, 0.3);
    setCards(1);
    rest(farAway, 1);
    EXPECT_TRUE(presentation.wanted);
}

TEST_F(ShelfPresentationTest, DismissOrdersOutLaterUnlessPresentedAgain)
{
    presentation.showLine();
    presentation.toggle(); // empty: not wanted any more, dismissed
    EXPECT_FALSE(presentation.isPresent);
    EXPECT_TRUE(panel.front);
    system.advance(0.2);
    presentation.showLine();
    system.advance(0.5);
    EXPECT_TRUE(panel.front);
    EXPECT_EQ(panel.orderOuts, 0);
    presentation.toggle();
    system.advance(0.5);
    EXPECT_FALSE(panel.front);
    EXPECT_EQ(panel.orderOuts, 1);
}

} // namespace
} // namespace tolvex
