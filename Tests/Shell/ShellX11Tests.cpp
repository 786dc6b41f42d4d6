// The installed program on the test desktop through a working day, driven
// only as a user drives it: the hot key, the tray menu, clicks, drags and
// typing, xclip for copying and a screenshot landing in the capture folder.
// Then a second run over the same data root must show the same cards.
#include "Shell/InstalledWorkspace.h"
#include "Support/FolderContents.h"
#include "Support/ImageFixtures.h"
#include "Support/MemoryUserDefaults.h"
#include "Support/TestDesktopGuard.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Intake/ClipboardLimits.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Store/ShelfPolicy.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MarkupCanvas.h"
#include "Velmarin/Actions/MarkupEditorWindow.h"
#include "Velmarin/Actions/MarkupPngEncoder.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Platform/Bookmark.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Windows/EditorStore.h"
#include "Velmarin/Windows/EditorTextView.h"
#include "Velmarin/Windows/NoteEditorController.h"
#include "Velmarin/Windows/NoteTextView.h"
#include "Velmarin/Windows/TextEditorController.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"
#include "Velmarin/Shelf/Clothespin.h"
#include "Velmarin/Shelf/LineGeometry.h"
#include "Velmarin/Shelf/LineRopeGeometry.h"
#include "Velmarin/Shelf/PeggedView.h"

#include <QApplication>
#include <QBuffer>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QUuid>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include <xcb/xcb.h>

#include <cstdlib>

namespace tolvex {
namespace {

using namespace testing::installed;
using testing::xdotoolOutput;

constexpr double screenWidth = 1280;

void keys(const QStringList& names)
{
    xdotoolOutput(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80")} + names);
}

void clickAt(QPointF point, int button = 1)
{
    moveTo(point);
    // The pointer rests a moment, as a hand does, before the press.
    QThread::msleep(150);
    xdotoolOutput({QStringLiteral("click"), QString::number(button)});
}

// Lets animations and the store's short pauses run out; never asserted on.
void settle(int milliseconds = 800)
{
    QElapsedTimer timer;
    timer.start();
    testing::waitUntil([&] { return timer.hasExpired(milliseconds); });
}

struct Window {
    quint32 id = 0;
    QRect geometry;
};

QList<Window> visibleWindows(const QStringList& match)
{
    QList<Window> windows;
    const QString found = xdotoolOutput(QStringList{QStringLiteral("search"), QStringLiteral("--onlyvisible")} + match);
    for (const QString& id : found.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        windows.append({id.toUInt(), clientGeometry(id.toUInt())});
    return windows;
}

QList<Window> programWindows()
{
    return visibleWindows({QStringLiteral("--classname"), QStringLiteral("tolvex")});
}

std::optional<Window> windowTitled(const QString& title)
{
    const QList<Window> found = visibleWindows({QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$')});
    return found.isEmpty() ? std::nullopt : std::optional<Window>(found.first());
}

std::optional<Window> trayIcon()
{
    for (const Window& window : programWindows()) {
        if (window.geometry.width() <= 64 && window.geometry.height() <= 64)
            return window;
    }
    return std::nullopt;
}

// A popup menu of the program: untitled (so named after the program), and
// neither the tray icon nor the shelf's panel.
bool menuShown()
{
    for (const Window& window : programWindows()) {
        if (window.geometry.height() > 64 && window.geometry.height() != LineGeometry::stripHeight
            && xdotoolOutput({QStringLiteral("getwindowname"), QString::number(window.id)}) == QStringLiteral("tolvex"))
            return true;
    }
    return false;
}

WorkspaceSnapshot stateOf(const QString& root)
{
    QFile file(root + QLatin1Char('/') + DataRoot::stateFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    try {
        return Json::decode<WorkspaceSnapshot>(file.readAll());
    } catch (...) {
        return {};
    }
}

QList<MaterialRecord> hanging(const WorkspaceSnapshot& snapshot)
{
    return ShelfPolicy::visible(snapshot, snapshot.selectedMatterID, std::numeric_limits<std::int64_t>::max());
}

// Where a card hangs on the revealed shelf, from the same geometry the
// program lays its cards out with.
struct CardPlace {
    QPointF centre;
    QPointF corner;
};

std::optional<CardPlace> placeOf(const WorkspaceSnapshot& snapshot, const QUuid& id)
{
    const QList<MaterialRecord> cards = hanging(snapshot);
    for (qsizetype i = 0; i < cards.size(); ++i) {
        if (cards[i].id != id)
            continue;
        const double x = LineGeometry::cardX(i, cards.size(), screenWidth, 0);
        const double top = LineRopeGeometry::pegY(x, screenWidth) - PeggedView::topAbovePeg + Clothespin::height
            - PeggedView::pinOverlap;
        // Pictures may be narrower than the frame; 20 points in from the
        // narrowest frame still lies inside the take-down corner of all.
        return CardPlace{{x, top + 40}, {x - PeggedView::photoWidth / 2 + 12, top + 10}};
    }
    return std::nullopt;
}

// Opens the tray icon's menu and walks it with the keyboard.
void chooseFromTrayMenu(const QStringList& walk)
{
    const std::optional<Window> icon = trayIcon();
    ASSERT_TRUE(icon);
    clickAt(icon->geometry.center(), 3);
    ASSERT_TRUE(testing::waitUntil([] { return menuShown(); }));
    keys(walk);
    ASSERT_TRUE(testing::waitUntil([] { return !menuShown(); }));
}

// What the desktop looked like when a step failed: who has the focus, which
// window is active, whether some client holds the keyboard or the pointer,
// and a picture of the screen in the build tree for a person to look at.
void describeDesktop(const QString& step)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    auto* focus = xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
    const std::string held = testing::TestDesktopGuard::whatHoldsTheDesktop();
    std::fprintf(stderr, "desktop at \"%s\": focus 0x%x, active window %s, %s\n", qPrintable(step),
        focus ? focus->focus : 0, qPrintable(xdotoolOutput({QStringLiteral("getactivewindow")})),
        held.empty() ? "nothing held" : held.c_str());
    std::free(focus);
    xcb_disconnect(connection);
    for (const Window& window : visibleWindows({QStringLiteral("--name"), QStringLiteral(".")}))
        std::fprintf(stderr, "  window 0x%x %dx%d+%d+%d \"%s\"\n", window.id, window.geometry.width(),
            window.geometry.height(), window.geometry.x(), window.geometry.y(),
            qPrintable(xdotoolOutput({QStringLiteral("getwindowname"), QString::number(window.id)})));
    const QString picture = QStringLiteral(TOLVEX_BINARY_DIR "/Testing/ShellX11-%1.png")
                                .arg(QDateTime::currentDateTime().toString(QStringLiteral("hhmmss")));
    if (QScreen* screen = QGuiApplication::primaryScreen(); screen && screen->grabWindow(0).save(picture))
        std::fprintf(stderr, "  screen: %s\n", qPrintable(picture));
}

// Brings the shelf down (unless it is) with the pointer resting at `point`.
void revealShelfAt(QPointF point)
{
    moveTo(point);
    for (int attempt = 0; attempt < 3 && claimedRectangles() <= 0; ++attempt) {
        // A card arriving meanwhile may peek the shelf down and the press
        // then hides it: look again before the next press.
        keys({QStringLiteral("ctrl+alt+t")});
        testing::waitUntil([] { return claimedRectangles() > 0; }, 5000);
    }
    if (claimedRectangles() <= 0)
        describeDesktop(QStringLiteral("the shelf stayed up"));
    ASSERT_GT(claimedRectangles(), 0);
    settle();
}

const MaterialRecord* findWhere(const WorkspaceSnapshot& snapshot, const std::function<bool(const MaterialRecord&)>& test)
{
    for (const MaterialRecord& record : snapshot.materials) {
        if (test(record))
            return &record;
    }
    return nullptr;
}

// Right-clicks a card and takes the menu's row `row` (1 = Copy).
void chooseFromCardMenu(const QString& root, const QUuid& id, int row)
{
    const std::optional<CardPlace> place = placeOf(stateOf(root), id);
    ASSERT_TRUE(place);
    revealShelfAt(place->centre);
    clickAt(place->centre, 3);
    ASSERT_TRUE(testing::waitUntil([] { return menuShown(); }));
    keys(QStringList(row, QStringLiteral("Down")) << QStringLiteral("Return"));
}

Window awaitWindow(const QString& title)
{
    std::optional<Window> window;
    EXPECT_TRUE(testing::waitUntil([&] { return (window = windowTitled(title)).has_value(); })) << title.toStdString();
    if (!window)
        return {};
    xdotoolOutput({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window->id)});
    settle(300);
    return *window;
}

bool windowGone(const QString& title)
{
    return testing::waitUntil([&] { return !windowTitled(title); });
}

// One of the program's alerts: titled with the program's name (its menus
// are untitled, so named in lower case), neither the tray icon nor the panel.
std::optional<Window> alertShown()
{
    for (const Window& window : programWindows()) {
        if (window.geometry.height() > 64 && window.geometry.height() != LineGeometry::stripHeight
            && xdotoolOutput({QStringLiteral("getwindowname"), QString::number(window.id)}) == QStringLiteral("Tolvex"))
            return window;
    }
    return std::nullopt;
}

// A new note from the rope's menu (the red stretch lies under the third
// card's pin), its window active.
void openNewNote()
{
    const QPointF rope(150, 30);
    revealShelfAt(rope);
    clickAt(rope, 3);
    ASSERT_TRUE(testing::waitUntil([] { return menuShown(); }));
    keys(QStringList(3, QStringLiteral("Down")) << QStringLiteral("Return"));
    awaitWindow(QStringLiteral("Note"));
}

// Drags the pointer across the middle of the window once for each offset,
// as strokes of the markup editor's pen.
void drawStrokes(const Window& window, const QList<int>& offsets)
{
    const QPoint middle = window.geometry.center();
    for (const int dy : offsets) {
        const int y = middle.y() + dy;
        QString stroke = QStringLiteral("xdotool mousemove %1 %2 mousedown 1").arg(middle.x() - 120).arg(y);
        for (int step = 1; step <= 6; ++step)
            stroke += QStringLiteral(" sleep 0.05 mousemove %1 %2").arg(middle.x() - 120 + 40 * step).arg(y);
        stroke += QStringLiteral(" sleep 0.05 mouseup 1");
        QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), stroke});
    }
}

TEST(ShellX11, AWorkingDayWithTheInstalledProgram)
{
    QTemporaryDir home;
    QTemporaryDir captures;
    QTemporaryDir prefix;
    ASSERT_TRUE(home.isValid() && captures.isValid() && prefix.isValid());
    ASSERT_FALSE(install(prefix.path()).isEmpty());
    // Installing again replaces the starter workspace of this prefix whole.
    const QString stray = prefix.filePath(QStringLiteral("share/tolvex/StarterWorkspace/stray"));
    ASSERT_TRUE(QFile(stray).open(QIODevice::WriteOnly));
    const QString installed = install(prefix.path());
    ASSERT_FALSE(installed.isEmpty());
    EXPECT_FALSE(QFile::exists(stray));
    // The data root as the first start leaves it: the starter workspace.
    const QString root = placeStarterWorkspace(prefix.path(), home.path());
    ASSERT_FALSE(root.isEmpty());

    // The starter with a capture folder chosen and clipboard intake on, as
    // the user would set them in the settings window.
    WorkspaceSnapshot initial = stateOf(root);
    ASSERT_EQ(initial.materials.size(), 3);
    initial.captureFolder = CaptureFolderSetting{Bookmark::create(captures.path()), captures.path(), true};
    QFile state(root + QLatin1Char('/') + DataRoot::stateFile());
    ASSERT_TRUE(state.open(QIODevice::WriteOnly | QIODevice::Truncate));
    state.write(Json::encode(initial));
    state.close();
    ASSERT_TRUE(enableClipboardIntake(root));
    const MaterialRecord* starterImage
        = findWhere(initial, [](const MaterialRecord& r) { return r.kind == MaterialKind::image; });
    const MaterialRecord* starterText
        = findWhere(initial, [](const MaterialRecord& r) { return r.kind == MaterialKind::text; });
    const MaterialRecord* starterDocument
        = findWhere(initial, [](const MaterialRecord& r) { return r.kind == MaterialKind::pdf; });
    ASSERT_TRUE(starterImage && starterText && starterDocument);

    moveTo({640, 600});
    auto program = std::make_unique<Program>(installed, home.path());
    ASSERT_TRUE(program->process.waitForStarted());
    ASSERT_TRUE(testing::waitUntil([] { return trayIcon().has_value(); }));

    // The starter's cards arrive and peek the shelf down; with the pointer
    // away it goes up again. Then one press of the hot key brings it down
    // and one more takes it up.
    testing::waitUntil([] { return claimedRectangles() > 0; }, 15000);
    ASSERT_TRUE(testing::waitUntil([] { return claimedRectangles() == 0; }));
    keys({QStringLiteral("ctrl+alt+t")});
    EXPECT_TRUE(testing::waitUntil([] { return claimedRectangles() > 0; }));
    keys({QStringLiteral("ctrl+alt+t")});
    EXPECT_TRUE(testing::waitUntil([] { return claimedRectangles() == 0; }));

    // A screenshot, a copied text and a copied image each become a card.
    const auto count = [&](ImportOrigin origin, MaterialKind kind) {
        const WorkspaceSnapshot snapshot = stateOf(root);
        return std::count_if(snapshot.materials.begin(), snapshot.materials.end(),
            [&](const MaterialRecord& r) { return r.source.origin == origin && r.kind == kind; });
    };
    EXPECT_TRUE(offerUntil(
        [&](int offer) {
            const QString staged = home.filePath(QStringLiteral("shot.png"));
            test::patternImage(320, 200).save(staged, "PNG");
            QFile::rename(staged, captures.filePath(QStringLiteral("Screenshot %1.png").arg(offer)));
        },
        [&] { return count(ImportOrigin::screenshot, MaterialKind::image) >= 1; }));
    EXPECT_TRUE(offerUntil(
        [](int offer) { copyToClipboard(QStringLiteral("Copied on the test desktop, offer %1").arg(offer).toUtf8()); },
        [&] { return count(ImportOrigin::clipboard, MaterialKind::text) >= 1; }));
    EXPECT_TRUE(offerUntil(
        [&](int offer) {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            test::patternImage(300 + offer, 180).save(&buffer, "PNG");
            copyToClipboard(png, QStringLiteral("image/png"));
        },
        [&] { return count(ImportOrigin::clipboard, MaterialKind::image) >= 1; }));
    settle(1500);
    const MaterialRecord* copied = findWhere(stateOf(root),
        [](const MaterialRecord& r) { return r.source.origin == ImportOrigin::clipboard && r.kind == MaterialKind::image; });
    ASSERT_TRUE(copied);
    const QUuid copiedImage = copied->id;

    // A click on a card's corner takes it down; the tray menu's undo row,
    // below "Hide Everything", the show row, keyboard browsing, "Take Down
    // All" and "Taken-Down Cards", hangs it again. The row is there for eight
    // seconds after the take-down; on a loaded machine the test itself may
    // take longer to reach it, and its walk would then land on the row after
    // it. So the test times itself from before the click: when it was too
    // slow to be sure of the row, it closes the menu, hangs the card again
    // from the taken-down window and takes it down once more.
    const auto statusOf = [&](const QUuid& id) {
        const WorkspaceSnapshot snapshot = stateOf(root);
        const MaterialRecord* record = snapshot.findMaterial(id);
        return record ? std::optional<MaterialStatus>(record->status) : std::nullopt;
    };
    const auto isHanging = [&] { return statusOf(starterText->id) == MaterialStatus::hanging; };
    bool undone = false;
    for (int attempt = 0; attempt < 3 && !undone; ++attempt) {
        const std::optional<CardPlace> place = placeOf(stateOf(root), starterText->id);
        ASSERT_TRUE(place);
        revealShelfAt(place->centre);
        moveTo(place->corner);
        QThread::msleep(150);
        QElapsedTimer sinceClick;
        sinceClick.start();
        xdotoolOutput({QStringLiteral("click"), QStringLiteral("1")});
        ASSERT_TRUE(testing::waitUntil([&] { return statusOf(starterText->id) == MaterialStatus::takenDown; }));
        const std::optional<Window> icon = trayIcon();
        ASSERT_TRUE(icon);
        clickAt(icon->geometry.center(), 3);
        ASSERT_TRUE(testing::waitUntil([] { return menuShown(); }));
        if (sinceClick.elapsed() < 6000) {
            keys(QStringList(6, QStringLiteral("Down")) << QStringLiteral("Return"));
            ASSERT_TRUE(testing::waitUntil([] { return !menuShown(); }));
            EXPECT_TRUE(testing::waitUntil(isHanging));
            undone = true;
        } else {
            std::fprintf(stderr, "the undo row was reached %lld ms after the click; trying again\n",
                static_cast<long long>(sinceClick.elapsed()));
            keys({QStringLiteral("Escape")});
            ASSERT_TRUE(testing::waitUntil([] { return !menuShown(); }));
            chooseFromTrayMenu(QStringList(5, QStringLiteral("Down")) << QStringLiteral("Return"));
            awaitWindow(QStringLiteral("Taken-Down Cards"));
            // The first row's button follows the list in the focus chain.
            keys({QStringLiteral("Tab"), QStringLiteral("space")});
            ASSERT_TRUE(testing::waitUntil(isHanging));
            keys({QStringLiteral("ctrl+w")});
            ASSERT_TRUE(windowGone(QStringLiteral("Taken-Down Cards")));
        }
        settle();
    }
    EXPECT_TRUE(undone) << "the test never reached the undo row within eight seconds of a take-down";

    // A double click opens a card's detail window, where the title field
    // has the focus for a rename.
    const QString newTitle = QStringLiteral("Renamed on the test desktop");
    {
        const std::optional<CardPlace> place = placeOf(stateOf(root), starterImage->id);
        ASSERT_TRUE(place);
        revealShelfAt(place->centre);
        moveTo(place->centre);
        xdotoolOutput({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"), QStringLiteral("--delay"),
            QStringLiteral("100"), QStringLiteral("1")});
    }
    awaitWindow(QStringLiteral("Material Details"));
    keys({QStringLiteral("ctrl+a")});
    xdotoolOutput({QStringLiteral("type"), newTitle});
    keys({QStringLiteral("ctrl+Return")});
    EXPECT_TRUE(testing::waitUntil([&] {
        const WorkspaceSnapshot snapshot = stateOf(root);
        const MaterialRecord* record = snapshot.findMaterial(starterImage->id);
        return record && record->title == newTitle;
    }));
    keys({QStringLiteral("ctrl+w")});
    EXPECT_TRUE(windowGone(QStringLiteral("Material Details")));

    // A note written on the red stretch of the rope hangs as a card.
    const QString noteText = QStringLiteral("Call back about the drawings");
    revealShelfAt(LineInputLayout::settingsRegion(screenWidth).center());
    clickAt(LineInputLayout::settingsRegion(screenWidth).center());
    awaitWindow(QStringLiteral("Note"));
    xdotoolOutput({QStringLiteral("type"), noteText});
    keys({QStringLiteral("ctrl+Return")});
    EXPECT_TRUE(testing::waitUntil([&] {
        return findWhere(stateOf(root), [&](const MaterialRecord& r) {
            return r.source.origin == ImportOrigin::note && r.title == noteText && r.status == MaterialStatus::hanging;
        });
    }));
    EXPECT_TRUE(windowGone(QStringLiteral("Note")));

    // A few strokes on the copied image in the markup editor make its
    // second version.
    chooseFromCardMenu(root, copiedImage, 3);
    const Window markup = awaitWindow(QStringLiteral("Mark Up"));
    const QPoint middle = markup.geometry.center();
    for (const int dy : {-30, 0, 30}) {
        QString script = QStringLiteral("xdotool mousemove %1 %2 mousedown 1").arg(middle.x() - 80).arg(middle.y() + dy);
        for (int step = 1; step <= 4; ++step)
            script += QStringLiteral(" sleep 0.05 mousemove %1 %2").arg(middle.x() - 80 + 40 * step).arg(middle.y() + dy + (step % 2) * 15);
        script += QStringLiteral(" sleep 0.05 mouseup 1");
        QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    }
    keys({QStringLiteral("ctrl+Return")});
    EXPECT_TRUE(testing::waitUntil([&] {
        const WorkspaceSnapshot snapshot = stateOf(root);
        const MaterialRecord* record = snapshot.findMaterial(copiedImage);
        return record && record->versions.size() == 2 && record->activeVersion()
            && record->activeVersion()->kind == VersionKind::markup;
    }));
    EXPECT_TRUE(windowGone(QStringLiteral("Mark Up")));

    // A card dragged onto another program's window delivers its file.
    {
        QProcess peer;
        peer.start(QStringLiteral(TOLVEX_RUNTIME_DIR "/tolvex-shelf-peer"),
            {QStringLiteral("--area"), QStringLiteral("0,320,1280,300")});
        ASSERT_TRUE(peer.waitForStarted());
        ASSERT_TRUE(testing::waitUntil([&] {
            peer.waitForReadyRead(20);
            return peer.canReadLine();
        }));
        EXPECT_TRUE(QString::fromUtf8(peer.readLine()).startsWith(QStringLiteral("ready")));
        const std::optional<CardPlace> place = placeOf(stateOf(root), starterDocument->id);
        ASSERT_TRUE(place);
        revealShelfAt(place->centre);
        const QPoint from = place->centre.toPoint();
        QString script = QStringLiteral("xdotool mousemove %1 %2 mousedown 1").arg(from.x()).arg(from.y());
        for (const int y : {from.y() + 10, from.y() + 30, 300, 400, 450, 470})
            script += QStringLiteral("; sleep 0.1; xdotool mousemove %1 %2").arg(from.x()).arg(y);
        script += QStringLiteral("; sleep 0.2; xdotool mouseup 1");
        QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), script});
        QString report;
        EXPECT_TRUE(testing::waitUntil([&] {
            if (peer.canReadLine() || peer.waitForReadyRead(20))
                report = QString::fromUtf8(peer.readLine()).trimmed();
            return report.startsWith(QStringLiteral("drop"));
        }));
        QFile delivered(QUrl(report.section(u' ', 1, 1)).toLocalFile());
        QFile payload(root + QLatin1Char('/') + starterDocument->activeVersion()->relativePath);
        ASSERT_TRUE(delivered.open(QIODevice::ReadOnly)) << report.toStdString();
        ASSERT_TRUE(payload.open(QIODevice::ReadOnly));
        EXPECT_EQ(delivered.readAll(), payload.readAll());
        peer.kill();
        peer.waitForFinished();
    }

    // Privacy mode, the tray menu's first row, covers the shelf and lifts.
    moveTo({640, 600});
    chooseFromTrayMenu({QStringLiteral("Down"), QStringLiteral("Return")});
    EXPECT_TRUE(testing::waitUntil([&] { return stateOf(root).privacyHidden; }));
    chooseFromTrayMenu({QStringLiteral("Down"), QStringLiteral("Return")});
    EXPECT_TRUE(testing::waitUntil([&] { return !stateOf(root).privacyHidden; }));

    // A storage cleanup preview from the settings window's storage page: the
    // settings row is the seventh from the bottom of the tray menu; on the
    // page, the preview button follows the library's "Show" button.
    chooseFromTrayMenu(QStringList(7, QStringLiteral("Up")) << QStringLiteral("Return"));
    const Window settingsWindow = awaitWindow(QStringLiteral("Intake Settings"));
    clickAt(QPointF(settingsWindow.geometry.center().x() + 45, settingsWindow.geometry.top() + 29));
    keys({QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space")});
    awaitWindow(QStringLiteral("Clean Up Storage"));
    keys({QStringLiteral("Escape")});
    EXPECT_TRUE(windowGone(QStringLiteral("Clean Up Storage")));
    awaitWindow(QStringLiteral("Intake Settings"));
    keys({QStringLiteral("ctrl+w")});
    EXPECT_TRUE(windowGone(QStringLiteral("Intake Settings")));

    // What the shelf shows now, to compare with the next run.
    const WorkspaceSnapshot worked = stateOf(root);
    revealShelfAt({640, 120});
    const int shownRectangles = claimedRectangles();

    // Quit is the tray menu's last row.
    moveTo({640, 600});
    chooseFromTrayMenu({QStringLiteral("Up"), QStringLiteral("Return")});
    ASSERT_TRUE(program->ended(30000));
    EXPECT_EQ(program->process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->process.exitCode(), 0);

    // Every material is kept, hanging, with its new name and version.
    const WorkspaceSnapshot day = stateOf(root);
    EXPECT_EQ(day.materials, worked.materials);
    EXPECT_GE(day.materials.size(), 3 + 4);
    for (const MaterialRecord& record : initial.materials)
        EXPECT_NE(day.findMaterial(record.id), nullptr);
    for (const MaterialRecord& record : day.materials) {
        EXPECT_EQ(record.status, MaterialStatus::hanging) << record.title.toStdString();
        for (const MaterialVersion& version : record.versions)
            EXPECT_TRUE(QFile::exists(root + QLatin1Char('/') + version.relativePath));
    }
    ASSERT_NE(day.findMaterial(starterImage->id), nullptr);
    EXPECT_EQ(day.findMaterial(starterImage->id)->title, newTitle);

    // The next run over the same data root shows the same cards and keeps
    // every record as it was.
    moveTo({640, 600});
    program = std::make_unique<Program>(installed, home.path());
    ASSERT_TRUE(program->process.waitForStarted());
    ASSERT_TRUE(testing::waitUntil([] { return trayIcon().has_value(); }));
    revealShelfAt({640, 120});
    EXPECT_EQ(claimedRectangles(), shownRectangles);
    moveTo({640, 600});
    chooseFromTrayMenu({QStringLiteral("Up"), QStringLiteral("Return")});
    ASSERT_TRUE(program->ended(30000));
    EXPECT_EQ(program->process.exitCode(), 0);
    EXPECT_EQ(stateOf(root).materials, day.materials);
}

// What the note editor's draft in the data root holds; empty when there is none.
QString noteDraftText(const QString& root)
{
    const QDir drafts(root + QLatin1Char('/') + DataRoot::draftsFolder());
    for (const QString& name : drafts.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(drafts.filePath(name + QLatin1Char('/') + DataRoot::noteDraftFileName()));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        try {
            return Json::decode<NoteDraft>(file.readAll()).text;
        } catch (...) {
        }
    }
    return {};
}

// A logout ends the program with SIGTERM and kills it a few seconds later.
// The program cannot refuse: without asking anything it ends, and what each
// open editor held is where the recovery window finds it. Resumed after a
// restart over the same data root, through the recovery window's own path,
// the text editor shows exactly what was typed (its line break included),
// the note editor the note, and the markup editor the stroke drawn in.
TEST(ShellX11, ATerminationKeepsWhatEveryEditorHolds)
{
    const InstalledWorkspace workspace;
    ASSERT_TRUE(workspace.fault.empty()) << workspace.fault;
    // The starter's text taken for a chosen file's, so that it is edited as
    // a text rather than continued as a note.
    WorkspaceSnapshot initial = stateOf(workspace.root);
    MaterialRecord* welcome = nullptr;
    for (MaterialRecord& record : initial.materials) {
        if (record.kind == MaterialKind::text)
            welcome = &record;
    }
    ASSERT_TRUE(welcome);
    welcome->source.origin = ImportOrigin::fileSelection;
    QFile state(workspace.root + QLatin1Char('/') + DataRoot::stateFile());
    ASSERT_TRUE(state.open(QIODevice::WriteOnly | QIODevice::Truncate));
    state.write(Json::encode(initial));
    state.close();
    const MaterialRecord* image
        = findWhere(initial, [](const MaterialRecord& r) { return r.kind == MaterialKind::image; });
    const MaterialRecord* text = welcome;
    ASSERT_TRUE(image);
    const QString imagePath = workspace.root + QLatin1Char('/') + image->activeVersion()->relativePath;
    QFile textPayload(workspace.root + QLatin1Char('/') + text->activeVersion()->relativePath);
    ASSERT_TRUE(textPayload.open(QIODevice::ReadOnly));
    const QString typed = QStringLiteral("Kept at logout");
    const QByteArray expectedText = textPayload.readAll() + '\n' + typed.toUtf8();
    const QString expectedNote = QStringLiteral("First line\nsecond line");

    moveTo({640, 600});
    auto program = std::make_unique<Program>(workspace.installed, workspace.home.path());
    ASSERT_TRUE(program->process.waitForStarted());
    ASSERT_TRUE(testing::waitUntil([] { return trayIcon().has_value(); }));

    // A stroke across the middle of the picture in Mark Up, left unsaved.
    chooseFromCardMenu(workspace.root, image->id, 3);
    drawStrokes(awaitWindow(QStringLiteral("Mark Up")), {0});

    // A line added at the end of the text in Edit Text, left unsaved.
    chooseFromCardMenu(workspace.root, text->id, 4);
    awaitWindow(QStringLiteral("Text Editor"));
    keys({QStringLiteral("ctrl+End"), QStringLiteral("Return")});
    xdotoolOutput({QStringLiteral("type"), typed});

    // A note of two lines. Its autosave holding all of it shows that the
    // program has taken every key typed before.
    openNewNote();
    xdotoolOutput({QStringLiteral("type"), QStringLiteral("First line")});
    keys({QStringLiteral("Return")});
    xdotoolOutput({QStringLiteral("type"), QStringLiteral("second line")});
    ASSERT_TRUE(testing::waitUntil([&] { return noteDraftText(workspace.root) == expectedNote; }));

    program->process.terminate();
    const bool ended = program->ended(30000);
    if (!ended)
        describeDesktop(QStringLiteral("the program outlived SIGTERM"));
    ASSERT_TRUE(ended);
    EXPECT_EQ(program->process.exitStatus(), QProcess::NormalExit);
    program.reset();

    // The restart: the store, the line, the editors and the recovery window
    // over the same data root, each draft resumed as its row's button does.
    MaterialStore store(QUrl::fromLocalFile(workspace.root), std::make_shared<SystemFileOperations>(),
        StorageBudget{AppDelegate::maxFileBytes, AppDelegate::maxMaterialBytes, 0});
    MaterialLineStore lineStore(store);
    testing::MemoryUserDefaults defaults;
    Line line(lineStore, defaults, [](const QUrl&) { return std::optional<QImage>(); });
    QCoro::waitFor(line.load());
    Markup::shared().privacyLine = &line;
    MaterialActions actions(line, QUrl::fromLocalFile(workspace.root), &store);
    MaterialEditorStore editorStore(&store);
    TextEditorController textEditor(line, editorStore);
    NoteEditorController noteEditor(line, editorStore);
    WorkflowRecoveryController recovery(line, actions);
    std::vector<std::exception_ptr> errors;
    const auto noteError = [&](std::exception_ptr error) { errors.push_back(error); };
    recovery.onError = noteError;
    recovery.onResumeText = [&](const EditSession& session) { launchTask(textEditor.resume(session, true), noteError); };
    recovery.onResumeNote = [&](const NoteDraft& draft) { launchTask(noteEditor.resume(draft, true), noteError); };

    const QList<EditSession> sessions = waitForResult(store.pendingEditSessions());
    ASSERT_EQ(sessions.size(), 2);
    for (const EditSession& session : sessions)
        recovery.resume(session);
    const QList<NoteDraft> drafts = waitForResult(store.pendingNoteDrafts());
    ASSERT_EQ(drafts.size(), 1);
    recovery.onResumeNote(drafts.first());

    MarkupEditorWindow* resumedMarkup = nullptr;
    ASSERT_TRUE(testing::waitUntil([&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = dynamic_cast<MarkupEditorWindow*>(widget); window && window->isVisible())
                resumedMarkup = window;
        }
        return textEditor.session() && noteEditor.draft() && resumedMarkup;
    }));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(textEditor.textView().text().toUtf8().toStdString(), expectedText.toStdString());
    EXPECT_EQ(noteEditor.textView().text().toStdString(), expectedNote.toStdString());

    // The picture shown differs from the original along the stroke, and only
    // in the middle of the picture, where it was drawn.
    const QImage original = QImage(imagePath).convertToFormat(QImage::Format_ARGB32);
    const QImage shown = resumedMarkup->canvas()->image().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shown.size(), original.size());
    int changed = 0;
    QRect changes;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QColor a = original.pixelColor(x, y);
            const QColor b = shown.pixelColor(x, y);
            if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 60) {
                ++changed;
                changes |= QRect(x, y, 1, 1);
            }
        }
    }
    EXPECT_GT(changed, 100);
    EXPECT_GT(changes.width(), 100);
    EXPECT_GE(changes.top(), shown.height() / 4);
    EXPECT_LE(changes.bottom(), shown.height() * 3 / 4);

    Markup::shared().abandon();
    Markup::shared().privacyLine = nullptr;
}

// The working file of the one edit session the data root holds.
QString workingFileOf(const QString& root)
{
    MaterialStore store(QUrl::fromLocalFile(root), std::make_shared<SystemFileOperations>(),
        StorageBudget{AppDelegate::maxFileBytes, AppDelegate::maxMaterialBytes, 0});
    const QList<EditSession> sessions = waitForResult(store.pendingEditSessions());
    return sessions.size() == 1 ? sessions.first().workingURL.toLocalFile() : QString();
}

// A picture as large as the clipboard takes (its PNG under 16 MiB): a photo's
// noise over gradients, 4096 x 4096, on which Qt's PNG writer spends seconds.
QImage noisyPhoto()
{
    QImage image(4096, 4096, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random.bounded(8));
            line[x] = qRgb((x / 16 + noise) & 255, (y / 16 + noise) & 255, ((x + y) / 32) & 255);
        }
    }
    return image;
}

// A logout while strokes lie unsaved on a large picture copied to the
// clipboard: the program ends, and the picture's working file holds the
// strokes, for the recovery window to offer.
TEST(ShellX11, ATerminationKeepsTheMarksOnALargePicture)
{
    const InstalledWorkspace workspace(InstalledWorkspace::starterWithClipboardIntake);
    ASSERT_TRUE(workspace.fault.empty()) << workspace.fault;
    const QImage picture = noisyPhoto();
    const QByteArray png = MarkupPngEncoder::encode(picture);
    ASSERT_LT(png.size(), ClipboardLimits::imageBytes);

    moveTo({640, 600});
    auto program = std::make_unique<Program>(workspace.installed, workspace.home.path());
    ASSERT_TRUE(program->process.waitForStarted());
    ASSERT_TRUE(testing::waitUntil([] { return trayIcon().has_value(); }));
    // Offered again only when it has not arrived after a while: a picture
    // this large takes its time.
    const auto copied = [&] {
        return findWhere(stateOf(workspace.root), [](const MaterialRecord& r) {
            return r.source.origin == ImportOrigin::clipboard && r.kind == MaterialKind::image;
        }) != nullptr;
    };
    for (int offer = 0; offer < 4 && !copied(); ++offer) {
        copyToClipboard(png, QStringLiteral("image/png"));
        testing::waitUntil(copied, 15000);
    }
    ASSERT_TRUE(copied());
    const WorkspaceSnapshot snapshot = stateOf(workspace.root);
    const QUuid id = findWhere(snapshot, [](const MaterialRecord& r) {
        return r.source.origin == ImportOrigin::clipboard && r.kind == MaterialKind::image;
    })->id;
    settle(1500);

    chooseFromCardMenu(workspace.root, id, 3);
    drawStrokes(awaitWindow(QStringLiteral("Mark Up")), {-40, 0, 40});
    settle(300);
    program->process.terminate();
    const bool ended = program->ended(30000);
    if (!ended)
        describeDesktop(QStringLiteral("the program outlived SIGTERM"));
    ASSERT_TRUE(ended);
    program.reset();

    const QString working = workingFileOf(workspace.root);
    ASSERT_FALSE(working.isEmpty());
    const QImage kept = QImage(working).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(kept.size(), picture.size());
    int changed = 0;
    for (int y = 0; y < kept.height(); ++y) {
        const auto* was = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        const auto* is = reinterpret_cast<const QRgb*>(kept.constScanLine(y));
        for (int x = 0; x < kept.width(); ++x) {
            if (std::abs(qRed(was[x]) - qRed(is[x])) + std::abs(qGreen(was[x]) - qGreen(is[x]))
                    + std::abs(qBlue(was[x]) - qBlue(is[x]))
                > 60)
                ++changed;
        }
    }
    EXPECT_GT(changed, 1000);
}

// How many of the pixels where `marked` departs from `original` `later` still
// holds as `marked` does; and how many such pixels there are.
std::pair<int, int> marksCarried(const QImage& original, const QImage& marked, const QImage& later)
{
    const auto apart = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)) > 60;
    };
    const QImage was = original.convertToFormat(QImage::Format_RGB32);
    const QImage marks = marked.convertToFormat(QImage::Format_RGB32);
    const QImage now = later.convertToFormat(QImage::Format_RGB32);
    int carried = 0;
    int total = 0;
    if (was.size() != marks.size() || was.size() != now.size())
        return {0, 0};
    for (int y = 0; y < was.height(); ++y) {
        for (int x = 0; x < was.width(); ++x) {
            if (!apart(was.pixel(x, y), marks.pixel(x, y)))
                continue;
            ++total;
            if (!apart(marks.pixel(x, y), now.pixel(x, y)))
                ++carried;
        }
    }
    return {carried, total};
}

// Marks kept at a termination, then the library copied to another home with
// `cp -a`, as a backup restored into a new home is: the program started on
// the copy says nothing at its start, Review Unfinished Work opens on the
// draft, its Resume shows the marks, and saving makes them a new version of
// the picture. The library where the draft was made is left as it was.
TEST(ShellX11, AKeptMarkupResumesInACopiedLibrary)
{
    const InstalledWorkspace workspace;
    ASSERT_TRUE(workspace.fault.empty()) << workspace.fault;
    const WorkspaceSnapshot initial = stateOf(workspace.root);
    const MaterialRecord* image
        = findWhere(initial, [](const MaterialRecord& r) { return r.kind == MaterialKind::image; });
    ASSERT_TRUE(image);
    const QUuid id = image->id;
    const QImage original(workspace.root + QLatin1Char('/') + image->activeVersion()->relativePath);
    ASSERT_FALSE(original.isNull());

    moveTo({640, 600});
    auto program = std::make_unique<Program>(workspace.installed, workspace.home.path());
    ASSERT_TRUE(program->process.waitForStarted());
    ASSERT_TRUE(testing::waitUntil([] { return trayIcon().has_value(); }));
    chooseFromCardMenu(workspace.root, id, 3);
    drawStrokes(awaitWindow(QStringLiteral("Mark Up")), {-40, 0, 40});
    settle(300);
    program->process.terminate();
    ASSERT_TRUE(program->ended(30000));
    program.reset();
    const QString kept = workingFileOf(workspace.root);
    ASSERT_FALSE(kept.isEmpty());
    const QImage marked(kept);

    QTemporaryDir newHome;
    ASSERT_TRUE(newHome.isValid() && QDir().mkpath(newHome.filePath(QStringLiteral(".local/share"))));
    const QString copy = newHome.filePath(QStringLiteral(".local/share/Tolvex"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), workspace.root, copy}), 0);
    const QMap<QString, QByteArray> where = testing::folderContents(workspace.root);

    program = std::make_unique<Program>(workspace.installed, newHome.path());
    ASSERT_TRUE(program->process.waitForStarted());
    ASSERT_TRUE(testing::waitUntil([] { return trayIcon().has_value(); }));
    const bool alerted = testing::waitUntil([] { return alertShown().has_value(); }, 4000);
    if (alerted)
        describeDesktop(QStringLiteral("an alert at the start on the copy"));
    EXPECT_FALSE(alerted);

    chooseFromTrayMenu(QStringList(3, QStringLiteral("Up")) << QStringLiteral("Return"));
    awaitWindow(QStringLiteral("Review Unfinished Work"));
    // The first button of the window is the draft's Resume.
    keys({QStringLiteral("Tab"), QStringLiteral("space")});
    const bool resumed = windowTitled(QStringLiteral("Mark Up")).has_value()
        || testing::waitUntil([] { return windowTitled(QStringLiteral("Mark Up")).has_value(); });
    if (!resumed)
        describeDesktop(QStringLiteral("no Mark Up after Resume"));
    ASSERT_TRUE(resumed);
    awaitWindow(QStringLiteral("Mark Up"));
    keys({QStringLiteral("ctrl+Return")});

    const auto savedVersion = [&]() -> std::optional<QString> {
        const WorkspaceSnapshot now = stateOf(copy);
        const MaterialRecord* record = now.findMaterial(id);
        if (!record || record->versions.size() != 2 || record->activeVersion()->kind != VersionKind::markup)
            return std::nullopt;
        return copy + QLatin1Char('/') + record->activeVersion()->relativePath;
    };
    ASSERT_TRUE(testing::waitUntil([&] { return savedVersion().has_value(); }));
    const auto [carried, total] = marksCarried(original, marked, QImage(*savedVersion()));
    EXPECT_GT(total, 100) << "the strokes changed the picture";
    EXPECT_GE(carried, total * 9 / 10) << "the saved version holds the kept marks";
    EXPECT_FALSE(alertShown());
    program->process.terminate();
    EXPECT_TRUE(program->ended(30000));
    EXPECT_EQ(testing::folderContents(workspace.root), where) << "the library the draft was made in is untouched";
}

// Quit with a note open ends the program, the note's words in its draft;
// while the words are still being written it may instead say so in the
// note's quit alert, and the next quit ends the program. Never a quit that
// does nothing. From the tray menu and with Ctrl+Q in the note's window,
// once the autosave has ended and right after typing, each twice.
TEST(ShellX11, AQuitWithANoteOpenEndsTheProgram)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QString installed = install(prefix.path());
    ASSERT_FALSE(installed.isEmpty());
    const struct {
        const char* name;
        bool fromTrayMenu;
        bool saved;
    } cases[] = {
        {"tray menu, saved", true, true},
        {"Ctrl+Q, saved", false, true},
        {"tray menu, just typed", true, false},
        {"Ctrl+Q, just typed", false, false},
    };
    const QStringList quitRow{QStringLiteral("Up"), QStringLiteral("Return")};
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
            QTemporaryDir home;
            ASSERT_TRUE(home.isValid());
            const QString root = placeStarterWorkspace(prefix.path(), home.path());
            ASSERT_FALSE(root.isEmpty());
            moveTo({640, 600});
            Program program(installed, home.path());
            ASSERT_TRUE(program.process.waitForStarted());
            ASSERT_TRUE(testing::waitUntil([] { return trayIcon().has_value(); }));
            openNewNote();

            const QString words = QStringLiteral("Kept when quitting %1").arg(round);
            if (c.saved) {
                xdotoolOutput({QStringLiteral("type"), words});
                ASSERT_TRUE(testing::waitUntil([&] { return noteDraftText(root) == words; }));
            }
            // Just typed: one run of keys, whose writes of the draft follow
            // each other, and the quit right after the last letter.
            QStringList typing{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("0")};
            for (const QChar letter : words)
                typing << (letter == u' ' ? QStringLiteral("space") : QString(letter));
            if (c.fromTrayMenu) {
                if (!c.saved)
                    xdotoolOutput(typing);
                chooseFromTrayMenu(quitRow);
            } else {
                xdotoolOutput((c.saved ? QStringList{QStringLiteral("key")} : typing) << QStringLiteral("ctrl+q"));
            }

            std::optional<Window> alert;
            const auto endedOrAlerted = [&] { return program.ended(20) || (alert = alertShown()); };
            const bool answered = testing::waitUntil(endedOrAlerted, 15000);
            if (!answered)
                describeDesktop(QStringLiteral("a quit with a note open"));
            ASSERT_TRUE(answered) << "the quit did nothing and said nothing";
            if (alert) {
                EXPECT_FALSE(c.saved) << "a note whose words were saved held the quit";
                xdotoolOutput({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(alert->id)});
                keys({QStringLiteral("Return")});
                ASSERT_TRUE(testing::waitUntil([] { return !alertShown(); }));
                ASSERT_TRUE(testing::waitUntil([&] { return noteDraftText(root) == words; }));
                chooseFromTrayMenu(quitRow);
                EXPECT_TRUE(program.ended(15000)) << "the second quit did nothing";
            }
            EXPECT_EQ(program.process.state(), QProcess::NotRunning);
            EXPECT_EQ(program.process.exitCode(), 0);
            EXPECT_EQ(noteDraftText(root).toStdString(), words.toStdString());
        }
    }
}

} // namespace
} // namespace tolvex
