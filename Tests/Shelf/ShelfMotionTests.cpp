#include "ShelfTesting.h"

#include "Support/ManualFrameClock.h"
#include "Velmarin/Shelf/LineHostingView.h"
#include "Velmarin/Shelf/LineView.h"
#include "Velmarin/Shelf/Motion.h"
#include "Velmarin/Shelf/MotionDriver.h"
#include "Velmarin/Shelf/PeggedView.h"
#include "Velmarin/Shelf/QtFrameClock.h"

#include <QApplication>
#include <QPaintEvent>

#include <cmath>

namespace tolvex {
namespace {

using namespace testing;

// A still spring must end once what is left of its swing cannot be seen,
// and never while it still passes through the target at speed.
TEST(MotionRestTest, ASpringEndsOnceItsSwingIsUnderTheTolerance)
{
    const struct {
        double from;
        double tolerance;
    } cases[] = {{3.4, 0.2}, {1.6, 0.2}, {16, 0.2}, {3.4, 0.05}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        const Motion swingBack = Motion::interpolatingSpring(1, 38, 2.4);
        MotionValue tolerant(c.from);
        tolerant.setRestTolerance(c.tolerance);
        tolerant.animate(0, swingBack);
        MotionValue reference(c.from);
        reference.animate(0, swingBack);
        int frame = 0;
        while (tolerant.advance(1.0 / 60) && frame < 6000) {
            reference.advance(1.0 / 60);
            ++frame;
        }
        EXPECT_EQ(tolerant.value(), 0);
        // Ended within the time the amplitude needs to decay under the
        // tolerance (e^(-1.2 t)), with a frame's slack...
        EXPECT_LE(frame / 60.0, std::log(c.from / c.tolerance) / 1.2 + 0.5);
        // ...and nothing the untouched spring does afterwards reaches it.
        double after = 0;
        for (int i = 0; i < 600; ++i) {
            reference.advance(1.0 / 60);
            after = std::max(after, std::abs(reference.value()));
        }
        EXPECT_LT(after, c.tolerance);
    }
}

// A shelf on a clock turned by hand: frames and paints counted.
class ShelfMotionTest : public ::testing::Test {
protected:
    ShelfMotionTest() : line(store, defaults, CountingThumbnails().maker())
    {
        MotionDriver::shared().useClock(clock);
    }
    ~ShelfMotionTest() override { MotionDriver::shared().useClock(std::make_shared<QtFrameClock>()); }

    // Text and picture cards of several tilts, dropped in and settled.
    void hangAndSettle(int n)
    {
        QImage picture(300, 200, QImage::Format_ARGB32_Premultiplied);
        picture.fill(QColor(60, 120, 200));
        QList<Pegged> cards;
        for (int i = 0; i < n; ++i) {
            Pegged card;
            card.id = QUuid::createUuid();
            card.kind = i % 2 ? MaterialKind::image : MaterialKind::text;
            if (card.kind == MaterialKind::text)
                card.previewText = QStringLiteral("Words on card %1 that wrap over the lines").arg(i);
            else
                card.thumb = picture;
            card.displayTitle = QStringLiteral("Card %1").arg(i);
            card.tilt = (i % 5 - 2) * 1.1;
            cards.append(card);
        }
        line.revealed = true;
        line.items = cards;
        line.resizeViewport(1000);
        view = std::make_unique<LineHostingView>(line);
        strip()->reduceMotionOverride = false;
        view->resize(1000, 210);
        view->show();
        strip()->rebuild();
        strip()->installEventFilter(&paints);
        ASSERT_GE(clock->framesUntilStill(600), 0) << "the drop-in never ends";
        QApplication::processEvents();
        paints.regions.clear();
    }
    LineView* strip() const { return view->lineView(); }
    // Advances one frame at a time, delivering the paints it asks for.
    int runFrames(int count)
    {
        int ran = 0;
        for (int i = 0; i < count; ++i) {
            ran += clock->advanceFrames(1);
            QApplication::processEvents();
        }
        return ran;
    }
    int runUntilStill(int limit)
    {
        int ran = 0;
        for (int i = 0; !clock->idle(); ++i) {
            if (i >= limit)
                return -1;
            ran += runFrames(1);
        }
        return ran;
    }
    QImage render(bool cached) const
    {
        for (PeggedView* card : strip()->cards())
            card->cachesFaces = cached;
        QImage image(strip()->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(236, 232, 220));
        strip()->render(&image);
        return image;
    }
    static int largestDifference(const QImage& a, const QImage& b)
    {
        int largest = 0;
        for (int y = 0; y < a.height(); ++y) {
            const auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
            const auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
            for (int x = 0; x < a.width(); ++x) {
                largest = std::max({largest, std::abs(qRed(p[x]) - qRed(q[x])),
                    std::abs(qGreen(p[x]) - qGreen(q[x])), std::abs(qBlue(p[x]) - qBlue(q[x]))});
            }
        }
        return largest;
    }

    struct PaintLog final : QObject {
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                regions.append(static_cast<QPaintEvent*>(event)->region());
            return false;
        }
        QList<QRegion> regions;
    } paints;
    std::shared_ptr<ManualFrameClock> clock = std::make_shared<ManualFrameClock>();
    ControlledLineStore store;
    MemoryUserDefaults defaults;
    Line line;
    std::unique_ptr<LineHostingView> view;
};

TEST_F(ShelfMotionTest, AStillShelfRunsNoFrameAndAGustEndsSoon)
{
    hangAndSettle(6);
    ASSERT_EQ(strip()->cards().size(), 6);

    // A still minute: not one frame, not one paint.
    const int framesBefore = clock->frames;
    runFrames(60 * 60);
    EXPECT_EQ(clock->frames, framesBefore);
    EXPECT_TRUE(paints.regions.isEmpty());

    // A gust sways every card and then ends: the largest sway (3.4 degrees,
    // after up to 0.35 s of delay and 0.3 s out) decays at e^(-1.2 t) until
    // it moves a card's corner by under half a pixel, about 2.4 s: the
    // frames stop within 3.5 s.
    line.gust = line.gust() + 1;
    QList<double> widest(strip()->cards().size(), 0.0);
    for (int frame = 0; frame < 60; ++frame) {
        runFrames(1);
        for (qsizetype i = 0; i < widest.size(); ++i)
            widest[i] = std::max(widest[i], std::abs(strip()->cards()[i]->swing()));
    }
    // The swing back may take over a frame before the swing out ends.
    for (const double swing : widest)
        EXPECT_GE(swing, 1.5);
    const int frames = runUntilStill(60 * 30);
    ASSERT_GE(frames, 0) << "the swing never ends";
    EXPECT_LE(60 + frames, 60 * 3.5);
    EXPECT_FALSE(paints.regions.isEmpty());
    for (PeggedView* card : strip()->cards())
        EXPECT_EQ(card->swing(), 0);

    // Still again: nothing runs.
    paints.regions.clear();
    const int framesAfter = clock->frames;
    runFrames(60 * 60);
    EXPECT_EQ(clock->frames, framesAfter);
    EXPECT_TRUE(paints.regions.isEmpty());
}

TEST_F(ShelfMotionTest, ASwingingCardRepaintsOnlyItself)
{
    hangAndSettle(6);
    PeggedView* card = strip()->cards()[2];
    const QRect resting = card->paintedBounds();
    card->nudge(3.4);
    ASSERT_GE(runUntilStill(60 * 30), 0);
    // Swinging 3.4 degrees about its pin moves the card's corners under
    // ten points.
    const QRect reach = resting.adjusted(-10, -10, 10, 10);
    ASSERT_FALSE(paints.regions.isEmpty());
    for (const QRegion& region : paints.regions)
        EXPECT_TRUE(reach.contains(region.boundingRect())) << region.boundingRect().x() << "," << region.boundingRect().width();
    // Most frames of the fading swing move the card by no whole step.
    EXPECT_LT(paints.regions.size(), clock->frames);
}

// The faces copied at every frame are the ones a transformed drawing makes,
// and a card that has swung comes to rest with the face it had.
TEST_F(ShelfMotionTest, CachedFacesMatchTransformedDrawing)
{
    // Five cards hang clear of the strip's ends, where Qt filters a turned
    // picture cut by the widget's edge a little differently.
    hangAndSettle(5);
    const QImage still = render(true);
    // Compositing a face onto its own layer first, then onto the strip, is
    // the same sum in exact arithmetic; in 8-bit premultiplied channels it
    // rounds once more, at most a level for the layer and one for its
    // blend. A moved or misturned card would differ by far more.
    constexpr int rounding = 2;
    EXPECT_LE(largestDifference(still, render(false)), rounding);

    line.gust = line.gust() + 1;
    // Each card begins its swing at a random moment within 0.35 s of the
    // gust: sample once every one of them is moving.
    runFrames(22);
    for (int sample = 0; sample < 6; ++sample) {
        runFrames(6);
        SCOPED_TRACE(sample);
        const QImage cached = render(true);
        EXPECT_LE(largestDifference(cached, render(false)), rounding);
        EXPECT_GT(largestDifference(cached, still), 40) << "the cards do not swing";
    }
    ASSERT_GE(runUntilStill(60 * 30), 0);
    EXPECT_EQ(render(true), still);
}

// A gust turns many cards to a new angle step in the same frame; a paint
// draws only a few of their faces afresh, the others show their last face
// until a later paint, and every card comes to rest on its own face.
TEST_F(ShelfMotionTest, APaintDrawsFewFacesAfreshAndEveryCardCatchesUp)
{
    hangAndSettle(6);
    const QImage still = render(true);
    struct FreshFaces final : QObject {
        explicit FreshFaces(LineView* strip) : strip(strip) {}
        std::int64_t drawn() const
        {
            std::int64_t sum = 0;
            for (const PeggedView* card : strip->cards())
                sum += card->faceCache().drawn();
            return sum;
        }
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() != QEvent::Paint)
                return false;
            const std::int64_t before = drawn();
            strip->removeEventFilter(this);
            QApplication::sendEvent(strip, event);
            strip->installEventFilter(this);
            most = std::max(most, drawn() - before);
            return true;
        }
        LineView* strip;
        std::int64_t most = 0;
    } fresh(strip());
    strip()->installEventFilter(&fresh);
    for (PeggedView* card : strip()->cards())
        card->nudge(3.4);
    ASSERT_GE(runUntilStill(60 * 30), 0);
    EXPECT_EQ(fresh.most, PeggedView::freshFacesPerPaint);
    for (PeggedView* card : strip()->cards())
        EXPECT_FALSE(card->faceBehind());
    EXPECT_EQ(render(true), still);
}

// Out of phase, the cards of a gust step at nearly every frame. Once every
// swing is slow, their steps wait for every second or third frame and share
// its paint; yet each card still shows every step it passes, one at a time,
// and the screen ends with every card at rest.
TEST_F(ShelfMotionTest, SlowSwingsShareFewerFramesAndShowEveryStep)
{
    hangAndSettle(6);
    const QList<PeggedView*> cards = strip()->cards();
    // Gusts sway the cards by chance amounts after chance delays: a few of them.
    for (int gust = 0; gust < 4; ++gust) {
        SCOPED_TRACE(gust);
        QList<double> shownAngle;
        for (PeggedView* card : cards)
            shownAngle.append(card->drawnAngle());
        QList<double> angle = shownAngle;
        line.gust = line.gust() + 1;
        int offPacePaints = 0;
        int slowPaints = 0;
        for (int frame = 1; !clock->idle() || frame < 60; ++frame) {
            ASSERT_LT(frame, 60 * 30) << "the swing never ends";
            const qsizetype painted = paints.regions.size();
            runFrames(1);
            // Every card has swung out within 0.65 s (up to 0.35 s late, 0.3 s
            // out); past the first swing back every swing is slower than a
            // step every other frame.
            const bool swungOut = frame > 41;
            const bool slow = frame > 90;
            for (qsizetype i = 0; i < cards.size(); ++i) {
                angle[i] = cards[i]->drawnAngle();
                if (paints.regions.size() == painted || !paints.regions.last().intersects(cards[i]->paintedBounds()))
                    continue;
                if (swungOut) {
                    EXPECT_LE(std::abs(angle[i] - shownAngle[i]), cards[i]->angleStep() * 1.001) << "a step was skipped";
                }
                shownAngle[i] = angle[i];
            }
            if (slow && paints.regions.size() > painted) {
                ++slowPaints;
                const std::uint64_t frameCount = MotionDriver::shared().frameCount();
                offPacePaints += frameCount % 2 != 0 && frameCount % 3 != 0;
            }
        }
        for (qsizetype i = 0; i < cards.size(); ++i) {
            EXPECT_EQ(cards[i]->swing(), 0);
            EXPECT_EQ(shownAngle[i], angle[i]) << "the screen kept a card off its resting angle";
        }
        EXPECT_GT(slowPaints, 10);
        // A card that comes to rest paints its resting angle at once.
        EXPECT_LE(offPacePaints, cards.size());
    }
}

// The desktop's light/dark switch reaches the cards already hanging, not
// only the ones that arrive afterwards.
TEST_F(ShelfMotionTest, HangingCardsTakeTheNewAppearance)
{
    hangAndSettle(2);
    PeggedView* text = strip()->cards()[0];
    ASSERT_EQ(text->item().kind, MaterialKind::text);
    const QPoint middle = text->cardRect().center().toPoint();
    const QColor light = render(true).pixelColor(middle);
    QPalette dark = strip()->palette();
    dark.setColor(QPalette::Window, QColor(30, 30, 32));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    dark.setColor(QPalette::Text, QColor(235, 235, 235));
    strip()->setPalette(dark);
    const QColor shown = render(true).pixelColor(middle);
    EXPECT_LT(shown.lightness(), light.lightness() - 60) << "the card kept the light paper";
}

} // namespace
} // namespace tolvex
