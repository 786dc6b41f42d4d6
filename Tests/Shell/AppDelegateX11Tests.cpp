#include "Shell/DelegateScene.h"
#include "Velmarin/Platform/X11Connection.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace tolvex {
namespace {

// Another client's dock along the top of the screen, reserving its height:
// the window manager takes the strip out of the work area while it is mapped.
class TopDock {
public:
    explicit TopDock(std::uint32_t height) : connection_(xcb_connect(nullptr, nullptr))
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, screen->width_in_pixels,
            static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
            32, 1, &dock);
        const std::array<std::uint32_t, 12> strut{0, 0, height, 0, 0, 0, 0, 0, 0,
            static_cast<std::uint32_t>(screen->width_in_pixels - 1), 0, 0};
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_STRUT_PARTIAL"),
            XCB_ATOM_CARDINAL, 32, 12, strut.data());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom("_NET_WM_STRUT"), XCB_ATOM_CARDINAL,
            32, 4, strut.data());
        xcb_map_window(connection_, window_);
        xcb_flush(connection_);
    }
    ~TopDock() { xcb_disconnect(connection_); }
    TopDock(const TopDock&) = delete;
    TopDock& operator=(const TopDock&) = delete;

private:
    xcb_atom_t atom(const char* name) { return X11Connection::atom(connection_, name); }

    xcb_connection_t* connection_;
    xcb_window_t window_ = 0;
};

// The work area changes twice (a dock comes, then goes); after each change
// the panel sits under the new top, a screenshot still flies onto its card
// and a card taken down still falls.
TEST(AppDelegateX11, FlightsAndFallsOutliveChangesOfTheWorkArea)
{
    const testing::EnvironmentOverride motion("TOLVEX_REDUCE_MOTION", nullptr);
    testing::DelegateScene scene;
    ASSERT_TRUE(testing::waitUntil([&] { return scene.delegate->hasWorkflow(); }));
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect before = screen->availableGeometry();
    const QUuid hanging = scene.fixture.snapshot.materials.first().id;
    const auto expectMotionUnder = [&](int top) {
        ASSERT_TRUE(testing::waitUntil([&] { return scene.delegate->panel()->frame().top() == top; }));
        const testing::DelegateScene::Arrival arrival = scene.arriveScreenshot(QRectF(200, 300, 320, 200));
        EXPECT_TRUE(arrival.markedFlying);
        EXPECT_TRUE(arrival.landedInFlight);
        EXPECT_TRUE(scene.falls(hanging));
    };
    {
        const TopDock dock(40);
        ASSERT_TRUE(testing::waitUntil([&] { return screen->availableGeometry().top() == before.top() + 40; }));
        expectMotionUnder(before.top() + 40);
    }
    ASSERT_TRUE(testing::waitUntil([&] { return screen->availableGeometry() == before; }));
    expectMotionUnder(before.top());
}

} // namespace
} // namespace tolvex
