#include "Support/EventLoopWait.h"
#include "TolvexCore/Model/CancellationError.h"
#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Shelf/GrabView.h"

#include <QApplication>
#include <QCoro/QCoroFuture>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPromise>
#include <QStyleHints>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tolvex {
namespace {

using testing::waitUntil;
using namespace std::chrono_literals;

// A card layer in a window, with every callback counted.
struct Rig {
    Rig()
    {
        window.resize(200, 200);
        view = new GrabView(&window);
        view->setGeometry(10, 10, 144, 112);
        view->clickDelay = 1ms;
        view->holdDelay = 24h; // fired only where a test asks for it
        view->onClick = [this] { ++clicks; };
        view->onDoubleClick = [this] { ++doubleClicks; };
        view->onDiscard = [this] { ++discards; };
        view->onLongPress = [this] { ++longPresses; };
        view->onPressChange = [this](bool pressed) { pressChanges.push_back(pressed); };
        view->onDragStart = [this] { ++dragStarts; };
        view->onDragError = [this](std::exception_ptr) { ++dragErrors; };
        view->beginSession = [this](GrabView&, std::shared_ptr<QMimeData> data, QPointF point) {
            sessions.push_back({data, point});
        };
        view->prepareDrag = [this]() -> QCoro::Task<std::shared_ptr<QMimeData>> {
            ++preparations;
            auto promise = std::make_shared<QPromise<std::shared_ptr<QMimeData>>>();
            promise->start();
            pending.push_back(promise);
            co_return co_await promise->future();
        };
        window.show();
    }

    void send(QEvent::Type type, QPointF local, quint64 time, Qt::MouseButton button = Qt::LeftButton)
    {
        const QPointF scene = local + QPointF(view->pos());
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, local, scene, view->mapToGlobal(local.toPoint()),
            type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
        event.setTimestamp(time);
        QApplication::sendEvent(view, &event);
    }
    void press(QPointF at, quint64 time) { send(QEvent::MouseButtonPress, at, time); }
    void release(QPointF at, quint64 time) { send(QEvent::MouseButtonRelease, at, time); }
    void move(QPointF at, quint64 time) { send(QEvent::MouseMove, at, time); }
    // Lets delayed clicks (1 ms) and finished preparations run.
    void settle() { waitUntil([this] { return !view->hasPendingClick(); }); QApplication::processEvents(); }
    void provide()
    {
        auto data = std::make_shared<QMimeData>();
        data->setText(QStringLiteral("payload"));
        auto promise = pending.back();
        promise->addResult(data);
        promise->finish();
    }

    QWidget window;
    GrabView* view = nullptr;
    int clicks = 0, doubleClicks = 0, discards = 0, longPresses = 0, dragStarts = 0, dragErrors = 0, preparations = 0;
    std::vector<bool> pressChanges;
    struct Session {
        std::shared_ptr<QMimeData> data;
        QPointF point;
    };
    std::vector<Session> sessions;
    std::vector<std::shared_ptr<QPromise<std::shared_ptr<QMimeData>>>> pending;
};


quint64 doubleClickInterval()
{
    return static_cast<quint64>(QGuiApplication::styleHints()->mouseDoubleClickInterval());
}

TEST(GrabViewTest, ClickCounting)
{
    const quint64 interval = doubleClickInterval();
    // How the window system reports a press that follows another: as a
    // press, as a double-click event only (X11), or as both.
    enum Later { asPress, asDoubleClickEvent, asBoth };
    const struct {
        const char* name;
        std::vector<quint64> presses; // press times; each released 10 ms later
        bool note;
        int clicks;
        int doubleClicks;
        Later later = asPress;
    } cases[] = {
        {"one press clicks once", {1000}, false, 1, 0},
        {"two quick presses are a double click only", {1000, 1000 + interval / 2}, false, 0, 1},
        {"a third quick press clicks nothing", {1000, 1000 + interval / 3, 1000 + 2 * interval / 3}, false, 0, 1},
        {"presses further apart are two clicks", {1000, 1000 + interval + 50}, false, 2, 0},
        {"a note clicks at the first release and again on the double", {1000, 1000 + interval / 2}, true, 1, 1},
        {"four quick presses still make one double click", {1000, 1001, 1002, 1003}, false, 0, 1},
        {"a second press reported as a double-click event", {1000, 1100}, false, 0, 1, asDoubleClickEvent},
        {"a second press reported twice counts once", {1000, 1100}, false, 0, 1, asBoth},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.view->singleClickImmediately = c.note;
        for (std::size_t i = 0; i < c.presses.size(); ++i) {
            if (i == 0 || c.later != asDoubleClickEvent)
                rig.press({70, 60}, c.presses[i]);
            if (i > 0 && c.later != asPress)
                rig.send(QEvent::MouseButtonDblClick, {70, 60}, c.presses[i]);
            rig.release({70, 60}, c.presses[i] + 10);
            // A pending click has long fired by the time a press comes after the interval.
            if (i + 1 < c.presses.size() && c.presses[i + 1] - c.presses[i] > interval)
                rig.settle();
        }
        rig.settle();
        EXPECT_EQ(rig.clicks, c.clicks);
        EXPECT_EQ(rig.doubleClicks, c.doubleClicks);
    }
}

TEST(GrabViewTest, CornerTakesDownWithoutAPress)
{
    const struct {
        QPointF at;
        bool discards;
    } cases[] = {{{0, 0}, true}, {{25.5, 25.5}, true}, {{26.5, 10}, false}, {{10, 26.5}, false}};
    for (const auto& c : cases) {
        Rig rig;
        rig.press(c.at, 1000);
        rig.release(c.at, 1010);
        rig.settle();
        EXPECT_EQ(rig.discards, c.discards ? 1 : 0) << c.at.x() << "," << c.at.y();
        EXPECT_EQ(rig.clicks, c.discards ? 0 : 1);
        if (c.discards) {
            EXPECT_EQ(std::count(rig.pressChanges.begin(), rig.pressChanges.end(), true), 0);
        }
    }
}

TEST(GrabViewTest, LongPressReplacesTheClickAndBlocksTheDrag)
{
    Rig rig;
    rig.view->holdDelay = 1ms;
    rig.press({70, 60}, 1000);
    ASSERT_TRUE(waitUntil([&] { return rig.longPresses == 1; }));
    // The press is reported as over before the long press runs.
    ASSERT_GE(rig.pressChanges.size(), 2u);
    EXPECT_EQ(rig.pressChanges.back(), false);
    rig.move({90, 60}, 1500);
    rig.release({90, 60}, 1600);
    rig.settle();
    EXPECT_EQ(rig.clicks, 0);
    EXPECT_EQ(rig.preparations, 0);
}

TEST(GrabViewTest, DragThresholdAndPreparation)
{
    const struct {
        const char* name;
        double distance;
        bool canDrag;
        int preparations;
    } cases[] = {
        {"exactly four points is still a click", 4.0, true, 0},
        {"beyond four points prepares a drag", 4.01, true, 1},
        {"a card that may not be dragged stays put", 40, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.view->canDrag = [&] { return c.canDrag; };
        rig.press({70, 60}, 1000);
        rig.move({70 + c.distance, 60}, 1010);
        EXPECT_EQ(rig.preparations, c.preparations);
    }
}

TEST(GrabViewTest, PreparedDragStartsOnceWithTheNewestPoint)
{
    Rig rig;
    rig.press({70, 60}, 1000);
    rig.move({80, 60}, 1010);
    rig.move({90, 60}, 1020);
    rig.move({100, 70}, 1030);
    EXPECT_EQ(rig.preparations, 1);
    rig.provide();
    ASSERT_TRUE(waitUntil([&] { return rig.sessions.size() == 1; }));
    EXPECT_EQ(rig.sessions[0].point, QPointF(rig.view->mapToGlobal(QPoint(100, 70))));
    EXPECT_EQ(rig.sessions[0].data->text(), QStringLiteral("payload"));
    EXPECT_EQ(rig.dragStarts, 1);
    EXPECT_TRUE(GrabView::isDragging());
    rig.view->finishDrag();
    EXPECT_FALSE(GrabView::isDragging());
    rig.release({100, 70}, 1100);
    rig.settle();
    EXPECT_EQ(rig.clicks, 0);
}

TEST(GrabViewTest, StalePreparationsChangeNothing)
{
    const quint64 interval = doubleClickInterval();
    const struct {
        const char* name;
        // What happens between the start of the preparation and its result.
        std::function<void(Rig&)> meanwhile;
        bool fails;
    } cases[] = {
        {"a newer press overtakes it",
            [interval](Rig& rig) {
                rig.release({90, 60}, 1100);
                rig.press({70, 60}, 1100 + interval + 10);
            },
            false},
        {"the release came first", [](Rig& rig) { rig.release({90, 60}, 1100); }, false},
        {"the line cancelled the press", [](Rig& rig) { rig.view->cancelDragPreparation(); }, false},
        {"a failure after the release is not reported", [](Rig& rig) { rig.release({90, 60}, 1100); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.press({70, 60}, 1000);
        rig.move({90, 60}, 1010);
        ASSERT_EQ(rig.preparations, 1);
        c.meanwhile(rig);
        const std::uint64_t generation = rig.view->gestureGeneration();
        if (c.fails) {
            rig.pending.back()->setException(StoreError::invalidSource());
            rig.pending.back()->finish();
        } else {
            rig.provide();
        }
        rig.settle();
        EXPECT_TRUE(rig.sessions.empty());
        EXPECT_EQ(rig.dragStarts, 0);
        EXPECT_EQ(rig.dragErrors, 0);
        EXPECT_EQ(rig.clicks, 0);
        EXPECT_EQ(rig.view->gestureGeneration(), generation);
    }
}

TEST(GrabViewTest, PreparationErrorsWhileThePressLives)
{
    const struct {
        const char* name;
        std::exception_ptr error;
        int reported;
    } cases[] = {
        {"a store error is reported", std::make_exception_ptr(StoreError::invalidSource()), 1},
        {"a cancellation is not", std::make_exception_ptr(CancellationError()), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.press({70, 60}, 1000);
        rig.move({90, 60}, 1010);
        try {
            std::rethrow_exception(c.error);
        } catch (const QException& error) {
            rig.pending.back()->setException(error);
        }
        rig.pending.back()->finish();
        ASSERT_TRUE(waitUntil([&] { return !rig.view->isPreparingDrag(); }));
        EXPECT_EQ(rig.dragErrors, c.reported);
        EXPECT_TRUE(rig.sessions.empty());
        // The press ended with the preparation.
        EXPECT_EQ(rig.pressChanges.back(), false);
    }
}

TEST(GrabViewTest, ImageFrameFitsTheDragImage)
{
    const struct {
        QSize image;
        QRectF frame;
    } cases[] = {
        {{288, 112}, {0, 0, 144, 56}},   // wide: full width, centred vertically
        {{72, 112}, {0, 0, 72, 112}},    // tall: full height
        {{0, 0}, {0, 0, 144, 112}},      // none: the bounds
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.view->resize(144, 112);
        if (!c.image.isEmpty()) {
            rig.view->dragImage = QImage(c.image, QImage::Format_ARGB32);
        }
        QRectF expected = c.frame;
        expected.moveCenter(QPointF(72, 56));
        EXPECT_EQ(rig.view->imageFrame(), expected) << c.image.width() << "x" << c.image.height();
    }
}

} // namespace
} // namespace tolvex
