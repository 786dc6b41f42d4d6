// The installed program started from the desktop on a library folder that
// is a link (the library moved to another disk and linked back): it never
// opens the library through the link, and says so in the launch alert, with
// where the link leads, instead of ending with nothing on screen. A fault of
// the command line still ends the start with its one line.
#include "Shell/InstalledWorkspace.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMap>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QUrl>

#include <gtest/gtest.h>

#include <optional>

namespace tolvex {
namespace {

using namespace testing::installed;
using testing::xdotoolOutput;

// A visible alert of the program: titled after it, and neither its tray
// icon nor its shelf's panel.
std::optional<quint32> alertOf(qint64 pid)
{
    const QString found = xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
        QString::number(pid), QStringLiteral("--name"), QStringLiteral("^Tolvex$")});
    for (const QString& id : found.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRect geometry = clientGeometry(id.toUInt());
        if (geometry.height() > 64 && geometry.height() != LineGeometry::stripHeight)
            return id.toUInt();
    }
    return std::nullopt;
}

QString primarySelection()
{
    QProcess reading;
    reading.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("primary")});
    reading.waitForFinished(10000);
    return QString::fromUtf8(reading.readAllStandardOutput());
}

// Where the parts of the alert lie inside its window: the same alert laid
// out here, with the program's style and fonts on the same display.
struct AlertLayout {
    QSize size;
    QRect message;
    QRect quit;
};

AlertLayout layoutOf(const QString& message)
{
    // The program's icons, the alert's among them, come from this theme.
    const QString theme = QIcon::fallbackThemeName();
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    const auto restore = qScopeGuard([&] { QIcon::setFallbackThemeName(theme); });
    const Localizer localizer = appLocalizer();
    Alert alert;
    alert.setTitle(localizer.string(MessageKey::recoveryTitle));
    alert.setMessage(message);
    alert.addButton(localizer.string(MessageKey::revealWorkspace));
    alert.addButton(localizer.string(MessageKey::quit));
    QMessageBox& box = *alert.window();
    box.setWindowModality(Qt::NonModal);
    box.show();
    testing::waitUntil([&] { return box.isVisible(); });
    AlertLayout layout;
    layout.size = box.size();
    if (const auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        layout.message = QRect(label->mapTo(&box, QPoint(0, 0)), label->size());
    for (const QAbstractButton* button : box.buttons()) {
        if (button->text() == localizer.string(MessageKey::quit))
            layout.quit = QRect(button->mapTo(&box, QPoint(0, 0)), button->size());
    }
    return layout;
}

// The alert's message as a user selects it with the pointer (the X primary
// selection), with its paragraphs as written.
QString selectedMessage(quint32 window, const AlertLayout& layout)
{
    const QPoint origin = clientGeometry(window).topLeft();
    xdotoolOutput({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window)});
    const QPoint from = origin + layout.message.topLeft() + QPoint(1, 1);
    const QPoint to = origin + layout.message.bottomRight() - QPoint(1, 1);
    moveTo(from);
    xdotoolOutput({QStringLiteral("mousedown"), QStringLiteral("1")});
    moveTo((QPointF(from) + QPointF(to)) / 2);
    moveTo(to);
    xdotoolOutput({QStringLiteral("mouseup"), QStringLiteral("1")});
    QString selected;
    testing::waitUntil([&] { return !(selected = primarySelection()).isEmpty(); }, 5000);
    return selected.replace(QChar(0x2029), QLatin1Char('\n')).trimmed();
}

// Every file below a folder with its bytes.
QMap<QString, QByteArray> contentsOf(const QString& folder)
{
    QMap<QString, QByteArray> contents;
    QDirIterator walk(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        QFile file(walk.next());
        contents.insert(walk.filePath(), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("?"));
    }
    return contents;
}

TEST(LinkedLibraryX11, ALinkedLibraryFolderIsExplainedInTheLaunchAlert)
{
    const InstalledWorkspace workspace(InstalledWorkspace::noLibrary);
    ASSERT_TRUE(workspace.fault.empty()) << workspace.fault;

    // The library moved to another disk and linked back in its place.
    const QString dataHome = workspace.home.filePath(QStringLiteral("data"));
    const QString moved = workspace.home.filePath(QStringLiteral("Other Disk/Tolvex"));
    const QString link = dataHome + QStringLiteral("/Tolvex");
    ASSERT_TRUE(QDir().mkpath(dataHome) && QDir().mkpath(QFileInfo(moved).path()));
    const QString starter = workspace.prefix.filePath(QStringLiteral("share/tolvex/StarterWorkspace"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-R"), starter, moved}), 0);
    ASSERT_TRUE(QFile::link(moved, link));
    const QMap<QString, QByteArray> before = contentsOf(moved);

    // The desktop's launcher, as the file manager's stand-in: it notes what
    // it was asked to open. Without a session bus the reveal opens the folder
    // that holds the item.
    const QString bin = workspace.home.filePath(QStringLiteral("bin"));
    const QString opened = workspace.home.filePath(QStringLiteral("opened"));
    ASSERT_TRUE(QDir().mkpath(bin));
    QFile launcher(bin + QStringLiteral("/xdg-open"));
    ASSERT_TRUE(launcher.open(QIODevice::WriteOnly));
    launcher.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + QFile::encodeName(opened) + "\"\n");
    launcher.close();
    launcher.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const auto environment = [&](QProcessEnvironment& environment) {
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        environment.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
            QStringLiteral("unix:path=") + workspace.home.filePath(QStringLiteral("no-bus")));
    };

    {
        SCOPED_TRACE("a fault of the command line");
        Program faulty(workspace.installed, workspace.home.path(), true, environment, {QStringLiteral("--bogus")});
        ASSERT_TRUE(faulty.ended(60000));
        EXPECT_EQ(faulty.process.exitCode(), 2);
        EXPECT_EQ(faulty.process.readAllStandardError(), QByteArray("Tolvex: invalid arguments or missing resources\n"));
        EXPECT_EQ(faulty.process.readAllStandardOutput(), QByteArray());
    }

    moveTo({640, 600});
    Program program(workspace.installed, workspace.home.path(), true, environment);
    ASSERT_TRUE(program.process.waitForStarted());
    const qint64 pid = program.process.processId();

    const Localizer localizer = appLocalizer();
    const QString expected = localizer.string(MessageKey::recoveryMessageWithoutRestore) + QStringLiteral("\n\n")
        + MessageFormat::format(localizer.string(MessageKey::recoveryLinkedRoot), {link, moved});
    const AlertLayout layout = layoutOf(expected);
    ASSERT_FALSE(layout.message.isEmpty());
    ASSERT_FALSE(layout.quit.isEmpty());

    std::optional<quint32> alert;
    ASSERT_TRUE(testing::waitUntil([&] { return (alert = alertOf(pid)).has_value(); }, 60000))
        << "no window: " << program.process.readAllStandardError().toStdString();
    EXPECT_EQ(clientGeometry(*alert).size(), layout.size) << "the alert holds more, or less, than its message";
    EXPECT_EQ(selectedMessage(*alert, layout), expected);

    // Show Library Folder: the link itself, in the folder that holds it.
    xdotoolOutput({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(*alert)});
    xdotoolOutput({QStringLiteral("key"), QStringLiteral("Return")});
    const auto openedFolders = [&] {
        QFile file(opened);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    EXPECT_TRUE(testing::waitUntil([&] { return !openedFolders().isEmpty(); }));
    EXPECT_EQ(openedFolders().trimmed(), dataHome);

    // The alert comes back, still naming where the link leads, and still
    // without a way to load the library through it.
    ASSERT_TRUE(testing::waitUntil([&] { return (alert = alertOf(pid)).has_value(); }));
    EXPECT_EQ(clientGeometry(*alert).size(), layout.size);
    EXPECT_EQ(selectedMessage(*alert, layout), expected);

    // Quit ends the program.
    const QPoint quit = clientGeometry(*alert).topLeft() + layout.quit.center();
    moveTo(quit);
    xdotoolOutput({QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(program.ended(60000)) << "Quit left the program running";
    EXPECT_EQ(program.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.process.exitCode(), 0);
    EXPECT_FALSE(program.process.readAllStandardError().contains("invalid arguments"));

    // Nothing reached the library through the link.
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(contentsOf(moved), before);
}

} // namespace
} // namespace tolvex
