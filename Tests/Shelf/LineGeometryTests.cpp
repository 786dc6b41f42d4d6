#include "ShelfTesting.h"

#include "Velmarin/Common/ScreenCoordinates.h"
#include "Velmarin/Shelf/LineGeometry.h"

#include <cmath>
#include <limits>

namespace tolvex {
namespace {

using namespace testing;

class LineGeometryTest : public ::testing::Test {
protected:
    LineGeometryTest() : line(store, defaults, CountingThumbnails().maker()) {}

    // n cards on a revealed, uncovered line of the given width.
    void hang(int n, double width)
    {
        QList<Pegged> cards;
        for (int i = 0; i < n; ++i) {
            Pegged card;
            card.id = QUuid::createUuid();
            cards.append(card);
        }
        line.items = cards;
        line.revealed = true;
        line.resizeViewport(width);
    }
    QUuid idAt(int index) const { return line.items()[index].id; }

    ControlledLineStore store;
    MemoryUserDefaults defaults;
    Line line;
};

TEST_F(LineGeometryTest, RowNumbers)
{
    const struct {
        int n;
        double width;
        double content;
        double maxOffset;
        double firstCentre;
        double lastCentre;
    } cases[] = {
        {1, 1000, 1000, 0, 500, 500},
        {10, 1000, 1796, 796, 115, 1681},
        {0, 400, 400, 0, 200, 200},
        {2, 324, 324, 0, 75, 249}, // exactly fits: no slack
    };
    for (const auto& c : cases) {
        hang(c.n, c.width);
        EXPECT_EQ(line.contentWidth(c.width), c.content) << c.n;
        EXPECT_EQ(line.maxScrollOffset(c.width), c.maxOffset) << c.n;
        EXPECT_EQ(line.cardX(0, c.width), c.firstCentre) << c.n;
        EXPECT_EQ(line.cardX(std::max(c.n - 1, 0), c.width), c.lastCentre) << c.n;
    }
    // The scroll moves every centre, never beyond the row.
    hang(10, 1000);
    line.scrollOffset = 5000;
    EXPECT_EQ(line.cardX(0, 1000), 115 - 796);
}

TEST_F(LineGeometryTest, ScrollStaysInRangeAndIsRefusedWhileHeld)
{
    hang(10, 1000);
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        double delta;
        bool pressed;
        bool covered;
        double expected;
    } cases[] = {
        {"huge", 1e12, false, false, 796},
        {"infinite", inf, false, false, 100},
        {"pressed", 50, true, false, 100},
        {"covered", 50, false, true, 100},
        {"plain", 50, false, false, 150},
    };
    for (const auto& c : cases) {
        line.scrollOffset = 100;
        line.pressedID = c.pressed ? std::optional<QUuid>(idAt(0)) : std::nullopt;
        line.snapshot.modify([&](WorkspaceSnapshot& s) { s.privacyHidden = c.covered; });
        line.scroll(c.delta);
        EXPECT_EQ(line.scrollOffset(), c.expected) << c.name;
    }
    // A narrower strip pulls the offset back into range.
    line.snapshot.modify([](WorkspaceSnapshot& s) { s.privacyHidden = false; });
    line.resizeViewport(1700);
    EXPECT_EQ(line.scrollOffset(), 96);
}

TEST_F(LineGeometryTest, LongRowsBuildAWindowPlusHeldCards)
{
    hang(32, 1000);
    EXPECT_EQ(line.presentedIndices(1000).size(), 32);
    hang(40, 1000);
    // Centre of card 0 is 115: lo = floor(-538 / 174) -> 0, hi = ceil(1308 / 174) + 1 = 9.
    QList<int> expected;
    for (int i = 0; i <= 8; ++i)
        expected.append(i);
    EXPECT_EQ(line.presentedIndices(1000), expected);
    line.draggingID = idAt(39);
    line.pressedID = idAt(20);
    expected.append(20);
    expected.append(39);
    EXPECT_EQ(line.presentedIndices(1000), expected);
    // Scrolled to the end the window is at the other side.
    line.draggingID = std::nullopt;
    line.pressedID = std::nullopt;
    line.scrollOffset = line.maxScrollOffset(1000);
    EXPECT_EQ(line.presentedIndices(1000).front(), 31);
    EXPECT_EQ(line.presentedIndices(1000).back(), 39);
}

TEST_F(LineGeometryTest, HitTest)
{
    hang(10, 1000);
    line.hitRects.insert(idAt(0), QRectF(40, 70, 150, 120));
    const struct {
        const char* name;
        QPointF point;
        bool revealed;
        bool covered;
        bool expected;
    } cases[] = {
        {"not revealed", {500, 30}, false, false, false},
        {"outside the strip", {500, 215}, true, false, false},
        {"rope input strip", {500, 30}, true, false, true},
        {"rope input strip while covered", {500, 30}, true, true, true},
        {"card while covered", {100, 100}, true, true, false},
        {"card", {100, 100}, true, false, true},
        {"card edge within 4 points", {36.5, 100}, true, false, true},
        {"beyond the card's margin", {35, 100}, true, false, false},
        {"page controls of an overflowing row", {500, 195}, true, false, true},
        {"empty strip", {700, 150}, true, false, false},
    };
    for (const auto& c : cases) {
        line.revealed = c.revealed;
        line.snapshot.modify([&](WorkspaceSnapshot& s) { s.privacyHidden = c.covered; });
        EXPECT_EQ(line.acceptsClick(c.point, 1000), c.expected) << c.name;
    }
    // A row that fits has no page controls.
    line.snapshot.modify([](WorkspaceSnapshot& s) { s.privacyHidden = false; });
    hang(2, 1000);
    EXPECT_FALSE(line.acceptsClick({500, 195}, 1000));
    EXPECT_EQ(line.pageControlsRegion(1000), QRectF());
}

TEST_F(LineGeometryTest, KeyboardSelection)
{
    hang(3, 300);
    const struct {
        const char* name;
        std::optional<int> from;
        int step;
        int expected;
    } cases[] = {
        {"first step forward selects the first card", std::nullopt, 1, 0},
        {"first step back selects the first card", std::nullopt, -1, 0},
        {"beyond the end stays on the end", 2, 1, 2},
        {"beyond the start stays on the start", 0, -1, 0},
    };
    for (const auto& c : cases) {
        line.keyboardID = c.from ? std::optional<QUuid>(idAt(*c.from)) : std::nullopt;
        line.selectForKeyboard(c.step);
        EXPECT_EQ(line.keyboardID(), idAt(c.expected)) << c.name;
    }
    // With the row scrolled by 143, card 2's centre is 320 on a 300-point
    // strip: selecting it scrolls by 320 + 75 + 20 - 300 = 115.
    line.scrollOffset = 143;
    line.keyboardID = idAt(1);
    EXPECT_EQ(line.cardX(2, 300), 320);
    line.selectForKeyboard(1);
    EXPECT_EQ(line.scrollOffset(), 143 + 115);
    // Back to the first card (centre -143): it comes in with the 20-point margin.
    line.selectForKeyboard(-2);
    EXPECT_EQ(line.scrollOffset(), 20);
    // Held cards block browsing.
    line.pressedID = idAt(2);
    line.selectForKeyboard(1);
    EXPECT_EQ(line.keyboardID(), idAt(0));
}

TEST_F(LineGeometryTest, EntryHintIsDismissedForGoodButNotWhileCovered)
{
    line.revealed = true;
    line.canOpenIntakeSettings = true;
    EXPECT_TRUE(line.showsEntryHint());
    int opened = 0, notes = 0;
    line.openSettingsAction = [&] { ++opened; };
    line.newNoteAction = [&] { ++notes; };

    line.coverImmediately();
    line.onNewNote()();
    EXPECT_EQ(notes, 1);
    EXPECT_FALSE(line.entryHintDismissed());
    EXPECT_FALSE(defaults.boolValue(Line::entryHintKey));

    line.snapshot.modify([](WorkspaceSnapshot& s) { s.privacyHidden = false; });
    line.onOpenIntakeSettings()();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(line.entryHintDismissed());
    EXPECT_FALSE(line.showsEntryHint());
    EXPECT_TRUE(defaults.boolValue(Line::entryHintKey));
    // A new line over the same defaults starts dismissed.
    Line next(store, defaults, CountingThumbnails().maker());
    EXPECT_TRUE(next.entryHintDismissed());
}

TEST(ScreenCoordinatesTest, FlipsBetweenYUpAndYDown)
{
    // A 150 x 190 card standing 10 points above the bottom of the strip.
    EXPECT_EQ(ScreenCoordinates::flipped(QRectF(40, 10, 150, 190), 210), QRectF(40, 10, 150, 190));
    EXPECT_EQ(ScreenCoordinates::flipped(QRectF(40, 0, 150, 64), 210), QRectF(40, 146, 150, 64));
    EXPECT_EQ(ScreenCoordinates::flipped(QPointF(500, 30), 210), QPointF(500, 180));
    EXPECT_EQ(ScreenCoordinates::toFrame(QPointF(1300, 40), QPointF(1280, 0)), QPointF(20, 40));
}

} // namespace
} // namespace tolvex
