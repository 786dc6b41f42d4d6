#pragma once

// The installed program on the test desktop, as the x11 tests of the shell
// drive it from outside: installed into a prefix of its own, started under
// a home of the test's, looked at through the X server.
#include "Support/EventLoopWait.h"
#include "Support/Xdotool.h"
#include "TolvexCore/Model/DataRoot.h"
#include "Velmarin/Shelf/LineGeometry.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QPointF>
#include <QProcess>
#include <QRect>
#include <QStringList>

#include <cstdlib>
#include <functional>

#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace tolvex::testing::installed {

inline void moveTo(QPointF point)
{
    xdotoolOutput({QStringLiteral("mousemove"), QString::number(qRound(point.x())), QString::number(qRound(point.y()))});
}

// `cmake --install` of the build tree into `prefix`; the program's path, or
// empty when the install failed.
inline QString install(const QString& prefix)
{
    const int status = QProcess::execute(QStringLiteral(TOLVEX_CMAKE_COMMAND),
        {QStringLiteral("--install"), QStringLiteral(TOLVEX_BINARY_DIR), QStringLiteral("--prefix"), prefix});
    return status == 0 ? prefix + QStringLiteral("/bin/tolvex") : QString();
}

// The data root below `home` as the program's first start leaves it: the
// installed starter workspace. Empty when it could not be put in place.
inline QString placeStarterWorkspace(const QString& prefix, const QString& home)
{
    const QString root = home + QStringLiteral("/.local/share/Tolvex");
    if (!QDir().mkpath(home + QStringLiteral("/.local/share")))
        return {};
    const int status = QProcess::execute(
        QStringLiteral("cp"), {QStringLiteral("-R"), prefix + QStringLiteral("/share/tolvex/StarterWorkspace"), root});
    return status == 0 ? root : QString();
}

// Turns clipboard intake on in the data root, as the user would in the
// settings window.
inline bool enableClipboardIntake(const QString& root)
{
    QFile settings(root + QLatin1Char('/') + DataRoot::clipboardSettingsFile());
    if (!settings.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray enabled
        = R"({"version":2,"enabled":true,"images":true,"text":true,"files":true,"includeExisting":false})";
    return settings.write(enabled) == enabled.size() && settings.flush();
}

// The program on its default data root, below the given home. Its output
// goes to the test's own unless `keepOutput`, when the test reads it.
// `adjust` changes its environment further, `arguments` its command line.
class Program {
public:
    Program(const QString& executable, const QString& home, bool keepOutput = false,
        const std::function<void(QProcessEnvironment&)>& adjust = {}, const QStringList& arguments = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home);
        environment.remove(QStringLiteral("XDG_DATA_HOME"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        if (adjust)
            adjust(environment);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(keepOutput ? QProcess::SeparateChannels : QProcess::ForwardedChannels);
        process.start(executable, arguments);
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // Whether the program has ended, waiting up to `ms` for it. Once QProcess
    // has seen the end (any event loop may deliver it), waitForFinished
    // answers false, so the state is asked first.
    bool ended(int ms)
    {
        return process.state() == QProcess::NotRunning || process.waitForFinished(ms);
    }

    QProcess process;
};

// How many rectangles of the shelf's panel take pointer input: none while
// the line is hidden, the cards' and the rope's while it is down; -1 while
// no program shows a panel. With a process id, of that program's panel.
inline int claimedRectangles(qint64 pid = 0)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const QString found = xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
        pid ? QStringLiteral("--pid") : QStringLiteral("--classname"),
        pid ? QString::number(pid) : QStringLiteral("tolvex")});
    int count = -1;
    for (const QString& id : found.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        auto* geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id.toUInt()), nullptr);
        const bool panel = geometry && geometry->height == LineGeometry::stripHeight;
        std::free(geometry);
        if (!panel)
            continue;
        auto* reply = xcb_shape_get_rectangles_reply(
            connection, xcb_shape_get_rectangles(connection, id.toUInt(), XCB_SHAPE_SK_INPUT), nullptr);
        count = reply ? static_cast<int>(reply->rectangles_len) : -1;
        std::free(reply);
        break;
    }
    xcb_disconnect(connection);
    return count;
}

// The window's inside in root coordinates (window managers report frames
// inconsistently, so the server is asked).
inline QRect clientGeometry(quint32 window)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    QRect result;
    auto* geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    auto* origin = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, window, screen->root, 0, 0), nullptr);
    if (geometry && origin)
        result = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    std::free(geometry);
    std::free(origin);
    xcb_disconnect(connection);
    return result;
}

// Copies `bytes` as xclip would, of the given type (xclip's own choice when none).
inline void copyToClipboard(const QByteArray& bytes, const QString& type = {})
{
    QProcess copy;
    QStringList arguments{QStringLiteral("-selection"), QStringLiteral("clipboard")};
    if (!type.isEmpty())
        arguments << QStringLiteral("-t") << type;
    copy.start(QStringLiteral("xclip"), arguments);
    copy.write(bytes);
    copy.closeWriteChannel();
    copy.waitForFinished();
}

// Offers new content every two seconds until `arrived` holds: intake takes
// only what changes after it starts, which the test cannot see.
inline bool offerUntil(const std::function<void(int)>& offer, const std::function<bool()>& arrived)
{
    QElapsedTimer sinceOffer;
    int offers = 0;
    return waitUntil(
        [&] {
            if (!sinceOffer.isValid() || sinceOffer.hasExpired(2000)) {
                offer(offers++);
                sinceOffer.start();
            }
            return arrived();
        },
        60000);
}

} // namespace tolvex::testing::installed
