// The whole program on the test desktop, driven as a user would: the tray
// icon, the hot key, a screenshot in the capture folder, a copied text, and
// quitting from the tray menu with every material kept.
#include "Support/EventLoopWait.h"
#include "Support/ImageFixtures.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "Velmarin/Platform/Bookmark.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace tolvex {
namespace {

QString xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

struct Window {
    QString id;
    QRect geometry;
};

// The program's visible windows with their geometry.
QList<Window> visibleWindows()
{
    QList<Window> windows;
    const QString found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
        QStringLiteral("--classname"), QStringLiteral("tolvex")});
    for (const QString& id : found.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList shell = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id})
                                      .split(QLatin1Char('\n'));
        QRect geometry;
        for (const QString& line : shell) {
            const QString value = line.section(QLatin1Char('='), 1);
            if (line.startsWith(QStringLiteral("X=")))
                geometry.moveLeft(value.toInt());
            else if (line.startsWith(QStringLiteral("Y=")))
                geometry.moveTop(value.toInt());
            else if (line.startsWith(QStringLiteral("WIDTH=")))
                geometry.setWidth(value.toInt());
            else if (line.startsWith(QStringLiteral("HEIGHT=")))
                geometry.setHeight(value.toInt());
        }
        windows.append({id, geometry});
    }
    return windows;
}

std::optional<Window> trayIcon()
{
    for (const Window& window : visibleWindows()) {
        if (window.geometry.width() <= 64 && window.geometry.height() <= 64)
            return window;
    }
    return std::nullopt;
}

// A popup of the program: neither the tray icon nor the 210-point panel.
bool menuShown()
{
    for (const Window& window : visibleWindows()) {
        if (window.geometry.height() > 64 && window.geometry.height() != 210)
            return true;
    }
    return false;
}

// How many rectangles of the shelf panel take pointer input: none while the
// line is hidden, the cards' while it is down.
int claimedRectangles()
{
    for (const Window& window : visibleWindows()) {
        if (window.geometry.height() != 210)
            continue;
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        auto* reply = xcb_shape_get_rectangles_reply(connection,
            xcb_shape_get_rectangles(connection, window.id.toUInt(), XCB_SHAPE_SK_INPUT), nullptr);
        const int count = reply ? static_cast<int>(reply->rectangles_len) : -1;
        std::free(reply);
        xcb_disconnect(connection);
        return count;
    }
    return -1;
}

WorkspaceSnapshot stateOf(const QString& root)
{
    QFile file(root + QStringLiteral("/state.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    try {
        return Json::decode<WorkspaceSnapshot>(file.readAll());
    } catch (...) {
        return {};
    }
}

int countFrom(const QString& root, ImportOrigin origin)
{
    const WorkspaceSnapshot snapshot = stateOf(root);
    return static_cast<int>(std::count_if(snapshot.materials.begin(), snapshot.materials.end(),
        [&](const MaterialRecord& record) { return record.source.origin == origin; }));
}

TEST(ShellX11, TheProgramRunsWhole)
{
    QTemporaryDir home;
    QTemporaryDir captures;
    ASSERT_TRUE(home.isValid() && captures.isValid());
    QDir().mkpath(QStringLiteral("/tmp/tolvex-dev"));
    const QString root = QStringLiteral("/tmp/tolvex-dev/e2e-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    // Removed however the test ends.
    const std::unique_ptr<const QString, void (*)(const QString*)> removeRoot(
        &root, [](const QString* path) { QDir(*path).removeRecursively(); });
    const QString starter = QStringLiteral(TOLVEX_RUNTIME_DIR "/StarterWorkspace");
    ASSERT_EQ(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-R"), starter, root}), 0);
    // The starter with a capture folder chosen.
    WorkspaceSnapshot initial = stateOf(root);
    ASSERT_EQ(initial.materials.size(), 3);
    initial.captureFolder = CaptureFolderSetting{Bookmark::create(captures.path()), captures.path(), true};
    QFile state(root + QStringLiteral("/state.json"));
    ASSERT_TRUE(state.open(QIODevice::WriteOnly | QIODevice::Truncate));
    state.write(Json::encode(initial));
    state.close();
    // Clipboard intake switched on, as the user would in the settings.
    QFile settings(root + QStringLiteral("/clipboard-settings.json"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly | QIODevice::Truncate));
    settings.write(R"({"version":2,"enabled":true,"images":true,"text":true,"files":true,"includeExisting":false})");
    settings.close();

    xdotool({QStringLiteral("mousemove"), QStringLiteral("640"), QStringLiteral("600")});
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(TOLVEX_RUNTIME_DIR "/tolvex"), {QStringLiteral("--data-root"), root});
    ASSERT_TRUE(program.waitForStarted());

    ASSERT_TRUE(testing::waitUntil([] { return trayIcon().has_value(); }));
    EXPECT_TRUE(testing::waitUntil([&] { return stateOf(root).materials.size() == 3; }));
    // The starter's cards arrive and peek the shelf; the pointer is away, so
    // it hides again; the hot key brings it down with its cards.
    ASSERT_TRUE(testing::waitUntil([] { return claimedRectangles() == 0; }));
    // The tray icon can show before the key is grabbed: a press that came too
    // early reaches nobody, so the key is pressed again until it is answered.
    const auto pressHotKeyUntil = [](const std::function<bool()>& answered) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+t")});
            if (testing::waitUntil(answered, 3000))
                return true;
        }
        return false;
    };
    EXPECT_TRUE(pressHotKeyUntil([] { return claimedRectangles() > 0; }));
    EXPECT_TRUE(pressHotKeyUntil([] { return claimedRectangles() == 0; }));

    // Content that is already there when intake starts is never taken, and
    // the test cannot see the start: a new screenshot and a new text are
    // offered every two seconds until one of each has become a card.
    QElapsedTimer sinceOffer;
    int offers = 0;
    const auto offerEvery = [&](const std::function<void()>& offer) {
        if (sinceOffer.isValid() && !sinceOffer.hasExpired(2000))
            return;
        offer();
        ++offers;
        sinceOffer.start();
    };
    EXPECT_TRUE(testing::waitUntil(
        [&] {
            offerEvery([&] {
                const QString staged = home.filePath(QStringLiteral("shot.png"));
                test::patternImage(320, 200).save(staged, "PNG");
                QFile::rename(staged, captures.filePath(QStringLiteral("Screenshot %1.png").arg(offers)));
            });
            return countFrom(root, ImportOrigin::screenshot) >= 1;
        },
        60000));
    sinceOffer.invalidate();
    EXPECT_TRUE(testing::waitUntil(
        [&] {
            offerEvery([&] {
                QProcess copy;
                copy.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")});
                copy.write(QStringLiteral("Copied on the test desktop, offer %1").arg(offers).toUtf8());
                copy.closeWriteChannel();
                copy.waitForFinished();
            });
            return countFrom(root, ImportOrigin::clipboard) >= 1;
        },
        60000));
    const int arrived = countFrom(root, ImportOrigin::screenshot) + countFrom(root, ImportOrigin::clipboard);

    // Quit is the tray menu's last row.
    const std::optional<Window> icon = trayIcon();
    ASSERT_TRUE(icon);
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon->id,
        QString::number(icon->geometry.width() / 2), QString::number(icon->geometry.height() / 2),
        QStringLiteral("click"), QStringLiteral("3")});
    ASSERT_TRUE(testing::waitUntil([] { return menuShown(); }));
    xdotool({QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    const WorkspaceSnapshot final = stateOf(root);
    // An offer still on its way when counting may have arrived as well.
    EXPECT_GE(final.materials.size(), 3 + arrived);
    for (const MaterialRecord& record : initial.materials)
        EXPECT_NE(final.findMaterial(record.id), nullptr);
    for (const MaterialRecord& record : final.materials)
        EXPECT_EQ(record.status, MaterialStatus::hanging);
}

} // namespace
} // namespace tolvex
