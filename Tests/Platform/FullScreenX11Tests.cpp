#include "Support/EventLoopWait.h"
#include "Velmarin/Platform/FullScreen.h"
#include "Velmarin/Platform/X11Connection.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// A plain window of another X client, as any other program's.
class ForeignWindow {
public:
    ForeignWindow() : connection_(xcb_connect(nullptr, nullptr))
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 100, 100, 300, 200, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(connection_, window_);
        xcb_flush(connection_);
    }
    ~ForeignWindow() { xcb_disconnect(connection_); }
    QString id() const { return QStringLiteral("0x%1").arg(window_, 8, 16, QLatin1Char('0')); }

private:
    xcb_connection_t* connection_;
    xcb_window_t window_ = 0;
};

bool wmctrl(const QString& id, const QString& change)
{
    return QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-r"), id,
                                                           QStringLiteral("-b"), change}) == 0;
}

TEST(FullScreenX11, FollowsAWindowGoingFullScreenAndBack)
{
    ASSERT_NE(X11Connection::connection(), nullptr);
    const auto screen = FullScreen::uuidString(QGuiApplication::primaryScreen());
    ASSERT_TRUE(screen.has_value());
    EXPECT_EQ(FullScreen::state(screen), FullScreen::State::desktop);

    ForeignWindow window;
    // The window manager needs a moment to take the window in.
    ASSERT_TRUE(testing::waitUntil([&] {
        return wmctrl(window.id(), QStringLiteral("add,fullscreen"))
            && FullScreen::state(screen) == FullScreen::State::fullScreen;
    }));
    ASSERT_TRUE(wmctrl(window.id(), QStringLiteral("remove,fullscreen")));
    EXPECT_TRUE(testing::waitUntil([&] { return FullScreen::state(screen) == FullScreen::State::desktop; }));
}

} // namespace
} // namespace tolvex
