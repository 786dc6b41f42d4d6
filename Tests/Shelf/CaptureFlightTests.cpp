#include "Support/EventLoopWait.h"
#include "Support/ManualFrameClock.h"
#include "Velmarin/Shelf/CaptureFlight.h"
#include "Velmarin/Shelf/MotionDriver.h"
#include "Velmarin/Shelf/QtFrameClock.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPointer>
#include <QScopeGuard>
#include <QWidget>

#include <gtest/gtest.h>


namespace tolvex {
namespace {

using testing::waitUntil;

TEST(CaptureFlightTest, FlightAndFallFrames)
{
    const QRectF from(100, 500, 300, 200);
    const QRectF to(600, 40, 144, 112);
    const struct {
        const char* name;
        QRectF from;
        double tilt;
        double t;
        QPointF topMiddle;
        double angle;
        double reveal;
    } flights[] = {
        {"start: the photo at the start, no frame", from, 2, 0, {250, 500}, 0, 0},
        {"end: the card's place and tilt", from, 2, 1, {672, 40}, 2, 1},
        // Eased 0.5 at t 0.5: halfway, 30 above the straight line.
        {"middle", from, 2, 0.5, {(250 + 672) / 2.0, (500 + 40) / 2.0 - 30}, 1, 0.0},
        {"equal rectangles still arc", to, 0, 0.5, {672, 40 - 30}, 0, 0.0},
    };
    for (const auto& c : flights) {
        SCOPED_TRACE(c.name);
        const FlightFrame f = CaptureFlight::flightFrame(c.from, to, c.tilt, c.t);
        EXPECT_NEAR(f.topMiddle.x(), c.topMiddle.x(), 1e-9);
        EXPECT_NEAR(f.topMiddle.y(), c.topMiddle.y(), 1e-9);
        EXPECT_NEAR(f.angle, c.angle, 1e-9);
        if (c.t == 0.5) {
            // (0.5 - 0.35) / 0.65 through smoothstep.
            const double r = 0.15 / 0.65;
            EXPECT_NEAR(f.reveal, r * r * (3 - 2 * r), 1e-9);
        } else {
            EXPECT_NEAR(f.reveal, c.reveal, 1e-9);
        }
    }
    // The frame stays invisible for the first 35 % of the eased motion.
    EXPECT_EQ(CaptureFlight::flightFrame(from, to, 0, 0.44).reveal, 0);
    EXPECT_EQ(CaptureFlight::flightFrame(from, to, 0, 1).size, to.size());

    const struct {
        double tilt;
        double t;
        double drop;
        double angle;
        double opacity;
    } falls[] = {{0, 1, 520, 20, 0}, {2, 0, 0, 2, 1}, {2, 0.5, 65, 2 + 0.125 * 34, 0.875}};
    for (const auto& c : falls) {
        const FlightFrame f = CaptureFlight::fallFrame(to, c.tilt, c.t);
        EXPECT_NEAR(f.topMiddle.y(), to.top() + c.drop, 1e-9) << c.tilt << " at " << c.t;
        EXPECT_NEAR(f.angle, c.angle, 1e-9) << c.tilt << " at " << c.t;
        EXPECT_NEAR(f.opacity, c.opacity, 1e-9) << c.tilt << " at " << c.t;
    }
}

TEST(CaptureFlightTest, EndsOnceAndCancelsWithoutCompletion)
{
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    int completed = 0;
    auto* flight = new CaptureFlight(image, {0, 0, 40, 30}, {100, 20, 144, 112}, 1.5, nullptr);
    flight->duration = 0.02;
    flight->completion = [&] { ++completed; };
    flight->run();
    EXPECT_EQ(CaptureFlight::current().size(), 1);
    ASSERT_TRUE(waitUntil([&] { return CaptureFlight::current().isEmpty(); }));
    EXPECT_EQ(completed, 1);

    int cancelled = 0;
    QList<QPointer<QWidget>> windows;
    QList<QPointer<CaptureFlight>> running;
    for (int i = 0; i < 2; ++i) {
        auto* flight = new CaptureFlight(image, {0, 0, 40, 30}, {100, 20, 144, 112}, 0, nullptr);
        flight->falling = true;
        flight->duration = 60;
        flight->completion = [&] { ++cancelled; };
        flight->run();
        windows.append(flight->window());
        running.append(flight);
    }
    // Two flights at once fly in two windows.
    EXPECT_NE(windows[0], windows[1]);
    CaptureFlight::cancelAll();
    EXPECT_TRUE(CaptureFlight::current().isEmpty());
    for (const auto& window : windows)
        EXPECT_TRUE(!window || !window->isVisible());
    ASSERT_TRUE(waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return running[0].isNull() && running[1].isNull();
    }));
    EXPECT_EQ(cancelled, 0);
}

// A flight's window is kept for the next one rather than made again, and
// the flight it carries next still lands on the card's place and tilt.
TEST(CaptureFlightTest, FlightsInARowShareOneWindow)
{
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    const QRectF to(100, 20, 144, 112);
    QList<FlightFrame> landings;
    auto fly = [&] {
        auto* flight = new CaptureFlight(image, {0, 0, 40, 30}, to, 1.5, nullptr);
        flight->duration = 0.02;
        flight->completion = [&landings, flight] { landings.append(flight->frame()); };
        flight->run();
        return QPointer<CaptureFlight>(flight);
    };
    const QPointer<CaptureFlight> first = fly();
    const QPointer<QWidget> window = first->window();
    ASSERT_TRUE(waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return first.isNull();
    }));
    ASSERT_FALSE(window.isNull());
    EXPECT_FALSE(window->isVisible());

    const QPointer<CaptureFlight> second = fly();
    EXPECT_EQ(second->window(), window.data());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowOpacity(), 1.0);
    ASSERT_TRUE(waitUntil([&] { return CaptureFlight::current().isEmpty(); }));
    ASSERT_EQ(landings.size(), 2);
    for (const FlightFrame& landing : landings) {
        EXPECT_EQ(landing.topMiddle, QPointF(to.center().x(), to.top()));
        EXPECT_EQ(landing.size, to.size());
        EXPECT_EQ(landing.angle, 1.5);
    }
    EXPECT_FALSE(window->isVisible());
}

// The flight moves at every 8 ms tick, twice per frame of a 60 Hz display;
// its window paints at most once a display frame, and always its landing.
TEST(CaptureFlightTest, PaintsAtMostOnceADisplayFrame)
{
    auto clock = std::make_shared<testing::ManualFrameClock>();
    MotionDriver::shared().useClock(clock);
    const auto restore = qScopeGuard([] {
        CaptureFlight::cancelAll();
        MotionDriver::shared().useClock(std::make_shared<QtFrameClock>());
    });
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    auto* flight = new CaptureFlight(image, {0, 0, 40, 30}, {100, 20, 144, 112}, 1.5, nullptr);
    flight->duration = 60;
    // Paints of the card's places only: an expose repaints the whole window.
    struct CardPaints final : QObject {
        bool eventFilter(QObject* object, QEvent* event) override
        {
            if (event->type() == QEvent::Paint
                && static_cast<QPaintEvent*>(event)->rect() != static_cast<QWidget*>(object)->rect())
                ++count;
            return false;
        }
        int count = 0;
    } paints;
    flight->window()->installEventFilter(&paints);
    flight->run();
    QCoreApplication::processEvents();
    const int shown = paints.count;

    for (int tick = 0; tick < 4; ++tick) {
        flight->tick();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(paints.count, shown) << "painted within one display frame";
    clock->advanceFrames(1);
    flight->tick();
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.count, shown + 1);
    // The landing, at once.
    flight->duration = 0;
    flight->tick();
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.count, shown + 2);
}

} // namespace
} // namespace tolvex
