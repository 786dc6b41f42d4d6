#include "ShelfTesting.h"

#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/LineGeometry.h"
#include "Velmarin/Shelf/LineHostingView.h"
#include "Velmarin/Shelf/LinePanel.h"
#include "Velmarin/Shelf/LineRopeGeometry.h"
#include "Velmarin/Shelf/LineView.h"
#include "Velmarin/Shelf/Motion.h"
#include "Velmarin/Shelf/MotionDriver.h"
#include "Velmarin/Shelf/PeggedView.h"

#include <QApplication>
#include <QKeyEvent>

#include <cmath>

namespace tolvex {
namespace {

using namespace testing;

// Records what the panel asks of the window system.
class RecordingWindowSystem final : public PanelWindowSystem {
public:
    void setInputRegion(QWindow&, const QRegion& region) override { regions.append(region); }
    bool hasCompositor() const override { return compositor; }
    WindowID activeWindow() const override { return active; }
    bool activate(WindowID window) override
    {
        activated.append(window);
        return true;
    }
    void takeFocus(QWindow&) override { ++focusTaken; }
    void showOnAllDesktops(QWindow&) override { ++sticky; }

    QList<QRegion> regions;
    QList<WindowID> activated;
    WindowID active = 0x4200007;
    bool compositor = true;
    int sticky = 0;
    int focusTaken = 0;
};

TEST(RopeGeometryTest, CurveNumbers)
{
    const struct {
        double width;
        double middleY; // at x = w / 2
        double endY;    // at x = -20
    } cases[] = {{1000, 42, 24}, {2000, 54, 24}, {1666.67, 54, 24}, {0, 24, 24}};
    for (const auto& c : cases) {
        EXPECT_NEAR(LineRopeGeometry::y(c.width / 2, c.width), c.middleY, 1e-3) << c.width;
        EXPECT_NEAR(LineRopeGeometry::y(-20, c.width), c.endY, 1e-9) << c.width;
        // A card's peg uses the strip alone, so its middle hangs lowest too.
        EXPECT_NEAR(LineRopeGeometry::pegY(c.width / 2, c.width), c.middleY, 1e-3) << c.width;
    }
    EXPECT_EQ(LineRopeGeometry::pegY(-50, 1000), 24);
    // A piece of the path passes through the rope at its middle.
    const QPainterPath piece = LineRopeGeometry::path(1000, 100, 400);
    EXPECT_NEAR(piece.pointAtPercent(0.5).y(), LineRopeGeometry::y(250, 1000), 1e-6);
    EXPECT_EQ(piece.currentPosition(), QPointF(400, LineRopeGeometry::y(400, 1000)));

    // The red stretch's region for a rope of 1100 (a strip of 1000 inset 50 a side).
    const QRectF region = LineInputLayout::settingsRegion(1100);
    const double c = 0.6180339887498949 * 1100;
    const double y1 = LineRopeGeometry::y(c - 34, 1100);
    const double y2 = LineRopeGeometry::y(c + 34, 1100);
    EXPECT_NEAR(region.center().x(), c, 1e-9);
    EXPECT_EQ(region.width(), 68);
    EXPECT_NEAR(region.top(), std::min(y1, y2) - 18, 1e-9);
    EXPECT_NEAR(region.height(), std::abs(y1 - y2) + 21, 1e-9);
}

TEST(CardFaceTest, PhotoSizeAndTitleLine)
{
    const struct {
        MaterialKind kind;
        QSize thumb;
        QSizeF expected;
    } sizes[] = {
        {MaterialKind::image, {1000, 500}, {136, 68}},
        {MaterialKind::image, {68, 52}, {136, 104}},
        {MaterialKind::image, {0, 40}, {136, 104}},
        {MaterialKind::text, {1000, 500}, {136, 104}},
        {MaterialKind::pdf, {10, 500}, {136, 104}},
    };
    for (const auto& c : sizes) {
        Pegged card;
        card.kind = c.kind;
        if (!c.thumb.isEmpty())
            card.thumb = QImage(c.thumb, QImage::Format_ARGB32);
        EXPECT_EQ(PeggedView::photoSize(card), c.expected) << c.thumb.width() << "x" << c.thumb.height();
    }
    const struct {
        QString title;
        QString line;
    } titles[] = {
        {QStringLiteral("\n\r\nThird"), QStringLiteral("Third")},
        {QStringLiteral("One\u2028Two"), QStringLiteral("One")},
        {QStringLiteral("\u0085\u2029x\ny"), QStringLiteral("x")},
        {QString(), QString()},
        {QStringLiteral("\n\n"), QStringLiteral("\n\n")},
    };
    for (const auto& c : titles)
        EXPECT_EQ(PeggedView::firstLine(c.title), c.line) << c.title.toStdString();
}

TEST(MotionTest, CurvesReachTheirTargets)
{
    const struct {
        const char* name;
        Motion motion;
        double seconds;
        bool overshoots;
    } cases[] = {
        {"ease out", Motion::easeOut(0.3), 0.3, false},
        {"ease in", Motion::easeIn(0.22), 0.22, false},
        {"drop-in spring", Motion::spring(0.42, 0.72), 3, false},
        {"swing-back spring", Motion::interpolatingSpring(1, 46, 2.6), 8, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MotionValue value(16);
        value.animate(0, c.motion);
        double lowest = 16;
        double elapsed = 0;
        while (value.isMoving() && elapsed < 30) {
            value.advance(1.0 / 120);
            elapsed += 1.0 / 120;
            lowest = std::min(lowest, value.value());
        }
        EXPECT_FALSE(value.isMoving());
        EXPECT_EQ(value.value(), 0);
        EXPECT_LE(elapsed, c.seconds + 1.0 / 60);
        // A swing goes through rest to the other side before it settles.
        EXPECT_EQ(lowest < -1, c.overshoots) << lowest;
    }
}

class ShelfViewTest : public ::testing::Test {
protected:
    ShelfViewTest() : line(store, defaults, CountingThumbnails().maker()) {}

    void hang(int n, double width)
    {
        QList<Pegged> cards;
        for (int i = 0; i < n; ++i) {
            Pegged card;
            card.id = QUuid::createUuid();
            card.kind = MaterialKind::text;
            card.previewText = QString();
            card.displayTitle = QStringLiteral("Card %1").arg(i);
            cards.append(card);
        }
        line.revealed = true;
        line.items = cards;
        line.resizeViewport(width);
    }
    void cover(bool hidden)
    {
        line.snapshot.modify([hidden](WorkspaceSnapshot& s) { s.privacyHidden = hidden; });
    }
    std::unique_ptr<LineHostingView> host(double width)
    {
        auto view = std::make_unique<LineHostingView>(line);
        view->lineView()->reduceMotionOverride = true;
        view->resize(static_cast<int>(width), 210);
        view->show();
        view->lineView()->rebuild();
        return view;
    }

    ControlledLineStore store;
    MemoryUserDefaults defaults;
    Line line;
};

TEST_F(ShelfViewTest, StripAgreesWithTheLinesGeometry)
{
    const struct {
        int cards;
        double width;
        double scroll;
    } cases[] = {{1, 1000, 0}, {10, 1000, 0}, {10, 1000, 400}, {40, 1000, 2000}, {3, 300, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.cards << " cards in " << c.width);
        hang(c.cards, c.width);
        line.scrollOffset = c.scroll;
        auto view = host(c.width);
        const QList<int> presented = line.presentedIndices(c.width);
        const QList<PeggedView*> built = view->lineView()->cards();
        ASSERT_EQ(built.size(), presented.size());
        const QRectF visible(0, 0, c.width, LineGeometry::stripHeight);
        int reported = 0;
        for (int i = 0; i < built.size(); ++i) {
            const double x = line.cardX(presented[i], c.width);
            EXPECT_EQ(built[i]->item().id, line.items()[presented[i]].id);
            EXPECT_DOUBLE_EQ(built[i]->centreX(), x);
            const QRectF card = built[i]->cardRect();
            // Hung 9.5 above the rope, the pin's lower 12 points over the card.
            EXPECT_NEAR(card.top(), LineRopeGeometry::pegY(x, c.width) - 9.5 + 14, 1e-9);
            EXPECT_EQ(built[i]->grabView()->geometry(), card.toAlignedRect());
            const QRectF clipped = card.intersected(visible);
            if (clipped.isEmpty()) {
                EXPECT_FALSE(line.hitRects.contains(built[i]->item().id));
            } else {
                ++reported;
                EXPECT_EQ(line.hitRects.value(built[i]->item().id), clipped);
            }
        }
        EXPECT_EQ(line.hitRects.size(), reported);
        // The hit test takes a click in the middle of every reported card.
        for (const QRectF& rect : line.hitRects)
            EXPECT_TRUE(line.acceptsClick(rect.center(), c.width));
    }
}

TEST_F(ShelfViewTest, CoverDropsEveryCardInTheSameTurn)
{
    hang(5, 1000);
    auto view = host(1000);
    const QList<GrabView*> layers = view->cardLayers();
    ASSERT_EQ(layers.size(), 5);
    line.coverImmediately();
    // No event loop turn in between.
    EXPECT_TRUE(view->lineView()->cards().isEmpty());
    EXPECT_TRUE(line.hitRects.isEmpty());
    EXPECT_FALSE(view->exposesChildren());
    for (const GrabView* layer : view->cardLayers())
        EXPECT_FALSE(layer->isVisible());
    // A strip made while covered starts without cards.
    auto second = host(1000);
    EXPECT_TRUE(second->lineView()->cards().isEmpty());
}

TEST_F(ShelfViewTest, CardMotionRules)
{
    hang(2, 1000);
    auto view = host(1000);
    view->lineView()->reduceMotionOverride = false;
    PeggedView* card = view->lineView()->cards().first();
    const QUuid id = card->item().id;

    // A copy nudges the card; while covered it is set straight instead.
    line.copiedID = id;
    EXPECT_TRUE(waitUntil([&] { return card->swing() > 0.5; }));
    line.copiedID = std::nullopt;

    // Falling: gone at once, and no click target any more.
    Pegged falling = card->item();
    falling.falling = true;
    card->setItem(falling);
    EXPECT_EQ(card->opacity(), 0);
    EXPECT_FALSE(card->hitRect().has_value());

    // Flying: invisible until it lands.
    PeggedView* other = view->lineView()->cards().last();
    Pegged flying = other->item();
    flying.flying = true;
    other->setItem(flying);
    ASSERT_TRUE(waitUntil([&] { return other->opacity() == 0; }));
    flying.flying = false;
    other->setItem(flying);
    EXPECT_TRUE(waitUntil([&] { return other->opacity() == 1 && std::abs(other->swing()) > 0.1; }));

    // Under the cover a nudge sets a card straight (a card kept by hand:
    // the strip itself drops its cards at once).
    PeggedView kept(line.items()[0], line, view.get(), [] { return false; });
    kept.nudge(3);
    ASSERT_TRUE(waitUntil([&] { return kept.swing() > 0.5; }));
    cover(true);
    kept.nudge(3);
    EXPECT_EQ(kept.swing(), 0);
    // So does a line pulled up, out of sight.
    cover(false);
    line.revealed = false;
    kept.nudge(3);
    EXPECT_EQ(kept.swing(), 0);
}

// A card arriving as the line comes down moves the row in the same frames
// as the slide: neither motion may cut the other short.
TEST_F(ShelfViewTest, TheLineComesDownWhileCardsMove)
{
    hang(2, 1000);
    line.revealed = false;
    auto view = host(1000);
    LineView* strip = view->lineView();
    strip->reduceMotionOverride = false;
    ASSERT_NE(strip->revealOffset(), 0);

    line.revealed = true;
    QList<Pegged> cards = line.items();
    Pegged arrival = cards.first();
    arrival.id = QUuid::createUuid();
    cards.append(arrival);
    line.items = cards;
    ASSERT_TRUE(waitUntil([&] { return MotionDriver::shared().activeCount() == 0; }));
    EXPECT_EQ(strip->revealOffset(), 0);
    EXPECT_EQ(strip->y(), 0);

    // A step asked for again while its frame runs keeps its frames, even
    // when the step that ran was done.
    QObject owner;
    int later = 0;
    MotionDriver::shared().request(&owner, [&](double) {
        MotionDriver::shared().request(&owner, [&](double) { return ++later < 3; });
        return false;
    });
    EXPECT_TRUE(waitUntil([&] { return later == 3; }));
}

TEST_F(ShelfViewTest, PanelInputRegionIsTheHitTest)
{
    hang(12, 900);
    auto hosting = host(900).release();
    auto system = std::make_shared<RecordingWindowSystem>();
    LinePanel panel(hosting, system);
    panel.resize(900, 210);
    const struct {
        const char* name;
        bool revealed;
        bool covered;
    } cases[] = {{"shown", true, false}, {"covered", true, true}, {"hidden", false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        line.revealed = c.revealed;
        cover(c.covered);
        hosting->lineView()->rebuild();
        const QRegion region = LinePanel::claimedRegion(line, 900);
        int mismatches = 0;
        for (int y = -2; y < 214; y += 3) {
            for (int x = -2; x < 904; x += 3) {
                const bool claimed = region.contains(QPoint(x, y));
                mismatches += claimed != line.acceptsClick(QPointF(x + 0.5, y + 0.5), 900);
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
    // A held card freezes the region until the press ends.
    line.revealed = true;
    cover(false);
    panel.show();
    const QRegion before = panel.inputRegion();
    line.pressedID = line.items()[0].id;
    line.scroll(500); // refused while pressed, so change the hit rects by hand
    line.hitRects.clear();
    panel.updateMousePassThrough({10, 10});
    EXPECT_EQ(panel.inputRegion(), before);
    line.pressedID = std::nullopt;
    panel.updateMousePassThrough({10, 10});
    EXPECT_EQ(panel.inputRegion(), LinePanel::claimedRegion(line, 900));
    EXPECT_EQ(system->regions.last(), panel.inputRegion());
    EXPECT_GE(system->sticky, 1);
    // The region follows the cards as the strip places them, with no poll.
    const QRegion placed = panel.inputRegion();
    line.scroll(-500);
    hosting->lineView()->rebuild();
    EXPECT_NE(panel.inputRegion(), placed);
    EXPECT_EQ(panel.inputRegion(), LinePanel::claimedRegion(line, 900));
}

TEST_F(ShelfViewTest, KeyboardBrowsingHandsTheFocusBack)
{
    hang(3, 900);
    auto* hosting = host(900).release();
    auto system = std::make_shared<RecordingWindowSystem>();
    LinePanel panel(hosting, system);
    panel.resize(900, 210);
    panel.show();

    // Refused while covered or hidden.
    cover(true);
    panel.beginKeyboardBrowsing();
    EXPECT_FALSE(panel.isKeyboardBrowsing());
    cover(false);
    line.revealed = false;
    panel.beginKeyboardBrowsing();
    EXPECT_FALSE(panel.isKeyboardBrowsing());
    line.revealed = true;

    int copied = 0;
    line.onCopy = [&](const QUuid& id) { copied += id == line.items()[1].id; };
    panel.beginKeyboardBrowsing();
    ASSERT_TRUE(panel.isKeyboardBrowsing());
    EXPECT_EQ(line.keyboardID(), line.items()[0].id);
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        int selected;
    } keys[] = {
        {Qt::Key_Left, Qt::NoModifier, 0}, {Qt::Key_Right, Qt::NoModifier, 1}, {Qt::Key_Down, Qt::NoModifier, 2},
        {Qt::Key_Down, Qt::NoModifier, 2}, {Qt::Key_Up, Qt::NoModifier, 1},
    };
    for (const auto& k : keys) {
        QKeyEvent press(QEvent::KeyPress, k.key, k.modifiers);
        QApplication::sendEvent(hosting, &press);
        EXPECT_EQ(line.keyboardID(), line.items()[k.selected].id) << k.key;
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(hosting, &enter);
    EXPECT_EQ(copied, 1);

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(hosting, &escape);
    EXPECT_FALSE(panel.isKeyboardBrowsing());
    EXPECT_FALSE(line.keyboardID().has_value());
    ASSERT_EQ(system->activated.size(), 1);
    EXPECT_EQ(system->activated.first(), system->active);

    // A cover while browsing ends it.
    panel.beginKeyboardBrowsing([] {});
    line.coverImmediately();
    EXPECT_FALSE(panel.isKeyboardBrowsing());
}

TEST_F(ShelfViewTest, WheelScrollsTheRow)
{
    hang(20, 900);
    auto view = host(900);
    const struct {
        const char* name;
        QPointF pixels;
        QPoint angle;
        Qt::KeyboardModifiers modifiers;
        bool consumed;
        double offset;
    } cases[] = {
        {"trackpad swipe left", {-12, 0}, {}, Qt::NoModifier, true, 112},
        {"wheel notch with Shift", {}, {0, 120}, Qt::ShiftModifier, true, 60},
        {"vertical wheel without Shift", {}, {0, 120}, Qt::NoModifier, false, 100},
        {"horizontal wheel notch", {}, {-120, 0}, Qt::NoModifier, true, 140},
    };
    for (const auto& c : cases) {
        line.scrollOffset = 100;
        EXPECT_EQ(view->scrollWheel(c.pixels, c.angle, c.modifiers), c.consumed) << c.name;
        EXPECT_EQ(line.scrollOffset(), c.offset) << c.name;
    }
}

} // namespace
} // namespace tolvex
