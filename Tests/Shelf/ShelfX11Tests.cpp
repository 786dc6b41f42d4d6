// The shelf's panel on a real X server (the test desktop), beside a window
// of another program (tolvex-shelf-peer): clicks pass through the empty
// strip, the focus comes back after keyboard browsing, files are dragged in
// and cards dragged out between the two programs.
#include "Shelf/ShelfTesting.h"
#include "Support/ImageFixtures.h"
#include "Support/Xdotool.h"
#include "TolvexCore/Model/ImportRequest.h"
#include "Velmarin/Platform/PanelWindowSystem.h"
#include "Velmarin/Platform/Pasteboard.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/LineHostingView.h"
#include "Velmarin/Shelf/LinePanel.h"
#include "Velmarin/Shelf/LineRopeGeometry.h"
#include "Velmarin/Shelf/LineView.h"
#include "Velmarin/Shelf/PeggedView.h"
#include "Velmarin/Shell/WorkflowAlerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>

namespace tolvex {
namespace {

using namespace testing;

constexpr int screenWidth = 1280;

// Moves the pointer, its button already held, through `path`, 100 ms a step,
// then lets the button go, in a process of its own: a drag started by this
// process runs a nested event loop that must not wait for the pointer.
std::unique_ptr<QProcess> moveHeldAlong(const QList<QPoint>& path, QString script = QStringLiteral("true"))
{
    for (const QPoint& p : path)
        script += QStringLiteral("; sleep 0.1; xdotool mousemove %1 %2").arg(p.x()).arg(p.y());
    script += QStringLiteral("; sleep 0.1; xdotool mouseup 1");
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    return process;
}

// Presses at `from`, then moves as moveHeldAlong does.
std::unique_ptr<QProcess> dragAlong(QPoint from, const QList<QPoint>& path)
{
    return moveHeldAlong(path, QStringLiteral("xdotool mousemove %1 %2 mousedown 1").arg(from.x()).arg(from.y()));
}

// The other program: a window under the panel that reports what reaches it.
class Peer {
public:
    explicit Peer(const QStringList& extra = {})
    {
        process.start(QStringLiteral(TOLVEX_RUNTIME_DIR "/tolvex-shelf-peer"),
            QStringList{QStringLiteral("--area"), QStringLiteral("0,0,1280,800")} + extra);
        EXPECT_TRUE(process.waitForStarted());
        const QString ready = nextLine();
        EXPECT_TRUE(ready.startsWith(QStringLiteral("ready "))) << ready.toStdString();
        window = ready.section(u' ', 1).toULongLong();
    }
    ~Peer()
    {
        process.kill();
        process.waitForFinished();
    }
    // The next report, waiting for it (empty at the deadline).
    QString nextLine()
    {
        waitUntil([&] {
            process.waitForReadyRead(20);
            return process.canReadLine();
        });
        return QString::fromUtf8(process.readLine()).trimmed();
    }

    QProcess process;
    quint64 window = 0;
};

class ShelfX11Test : public ::testing::Test {
protected:
    ShelfX11Test() : line(store, defaults, CountingThumbnails().maker()) {}

    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        const QColor colours[] = {QColor(220, 40, 40), QColor(40, 180, 60), QColor(40, 80, 220)};
        QList<Pegged> cards;
        for (const QColor& colour : colours) {
            Pegged card;
            card.id = QUuid::createUuid();
            card.kind = MaterialKind::image;
            card.thumb = QImage(300, 200, QImage::Format_ARGB32);
            card.thumb.fill(colour);
            card.displayTitle = colour.name();
            cards.append(card);
        }
        line.items = cards;
        line.revealed = true;
        line.canReceiveInput = true;
        line.canOpenIntakeSettings = true;
        host = new LineHostingView(line);
        host->lineView()->reduceMotionOverride = true;
        panel = std::make_unique<LinePanel>(host);
        panel->setGeometry(0, 0, screenWidth, 210);
        panel->show();
        ASSERT_TRUE(waitUntil([&] { return panel->windowHandle() && panel->windowHandle()->isExposed(); }));
        ASSERT_TRUE(waitUntil([&] { return line.hitRects.size() == 3; }));
        panel->updateMousePassThrough({});
    }

    QPoint cardCentre(int index) const { return line.hitRects.value(line.items()[index].id).center().toPoint(); }
    // The indices of the cards drawn raised, with their take-down mark.
    QList<int> raised() const
    {
        QList<int> indices;
        for (int i = 0; i < line.items().size(); ++i) {
            if (host->lineView()->card(line.items()[i].id)->hovering())
                indices.append(i);
        }
        return indices;
    }

    // Presses on the peer's window and, once the peer's drag of its file
    // runs, carries it over the panel onto the rope, where `drag` lets the
    // button go.
    void dragFromPeerOntoRope(Peer& peer, std::unique_ptr<QProcess>& drag)
    {
        panel->raise();
        // The pointer moves only once the peer's drag runs: on a loaded
        // machine the whole path could otherwise pass before the drag begins.
        xdotoolOutput({QStringLiteral("mousemove"), QStringLiteral("640"), QStringLiteral("500"),
            QStringLiteral("mousedown"), QStringLiteral("1")});
        ASSERT_EQ(peer.nextLine(), QStringLiteral("click 640 500"));
        ASSERT_EQ(peer.nextLine(), QStringLiteral("dragging"));
        drag = moveHeldAlong({{600, 460}, {500, 400}, {400, 300}, {300, 200}, {300, 120}, {300, 60}, {300, 40},
            {302, 40}});
    }

    ControlledLineStore store;
    MemoryUserDefaults defaults;
    Line line;
    LineHostingView* host = nullptr;
    std::unique_ptr<LinePanel> panel;
};

TEST_F(ShelfX11Test, ClicksPassThroughTheEmptyStripOnly)
{
    Peer peer;
    panel->raise();
    int copies = 0;
    line.onCopy = [&](const QUuid&) { ++copies; };
    const QPoint empty(100, 150);
    ASSERT_FALSE(line.acceptsClick(empty, screenWidth));
    xdotoolOutput({QStringLiteral("mousemove"), QString::number(empty.x()), QString::number(empty.y()),
        QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_EQ(peer.nextLine(), QStringLiteral("click 100 150"));

    const QPoint card = cardCentre(1);
    xdotoolOutput({QStringLiteral("mousemove"), QString::number(card.x()), QString::number(card.y()),
        QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(waitUntil([&] { return copies == 1; }));
    // The peer's next report is the next empty click: the card's never reached it.
    xdotoolOutput({QStringLiteral("mousemove"), QStringLiteral("1200"), QStringLiteral("160"), QStringLiteral("click"),
        QStringLiteral("1")});
    EXPECT_EQ(peer.nextLine(), QStringLiteral("click 1200 160"));
}

// A card's menu holds the pointer while it is open, so the card hears
// nothing of the pointer leaving it: once the menu closes, only the card
// under the pointer is raised and marked.
TEST_F(ShelfX11Test, OnlyTheCardUnderThePointerIsRaisedOnceItsMenuCloses)
{
    const auto move = [](QPoint to) {
        return xdotool({QStringLiteral("mousemove"), QString::number(to.x()), QString::number(to.y())});
    };
    struct Case {
        const char* name;
        // Where the pointer is when the menu closes: a card, or -1 for the empty strip.
        int closedOver;
    };
    const Case cases[] = {{"closed over the empty strip", -1}, {"closed over another card", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(move(cardCentre(0)));
        ASSERT_TRUE(waitUntil([&] { return raised() == QList<int>{0}; }));
        ASSERT_TRUE(xdotool({QStringLiteral("click"), QStringLiteral("3")}));
        ASSERT_TRUE(waitUntil([] { return QApplication::activePopupWidget() != nullptr; })) << "no card menu";
        ASSERT_TRUE(move(c.closedOver < 0 ? QPoint(100, 150) : cardCentre(c.closedOver)));
        ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        ASSERT_TRUE(waitUntil([] { return QApplication::activePopupWidget() == nullptr; }));
        const QList<int> expected = c.closedOver < 0 ? QList<int>{} : QList<int>{c.closedOver};
        EXPECT_TRUE(waitUntil([&] { return raised() == expected; })) << raised().size() << " cards raised";
        ASSERT_TRUE(move(QPoint(100, 150)));
        ASSERT_TRUE(waitUntil([&] { return raised().isEmpty(); }));
    }
}

TEST_F(ShelfX11Test, KeyboardBrowsingGivesTheFocusBack)
{
    Peer peer;
    xdotoolOutput({QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(peer.window)});
    ASSERT_TRUE(waitUntil([&] { return xdotoolOutput({QStringLiteral("getactivewindow")}).toULongLong() == peer.window; }));
    panel->beginKeyboardBrowsing();
    ASSERT_TRUE(waitUntil([&] { return panel->isActiveWindow(); }));
    EXPECT_EQ(line.keyboardID(), line.items()[0].id);
    xdotoolOutput({QStringLiteral("key"), QStringLiteral("Right")});
    ASSERT_TRUE(waitUntil([&] { return line.keyboardID() == line.items()[1].id; }));
    xdotoolOutput({QStringLiteral("key"), QStringLiteral("Escape")});
    ASSERT_TRUE(waitUntil([&] { return !panel->isKeyboardBrowsing(); }));
    EXPECT_TRUE(waitUntil([&] { return xdotoolOutput({QStringLiteral("getactivewindow")}).toULongLong() == peer.window; }));
}

TEST_F(ShelfX11Test, FileDraggedOntoTheRopeIsReceived)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("dropped.txt"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("dropped bytes");
    out.close();
    QList<ImportRequest> received;
    line.onReceiveInput = [&](const QList<ImportRequest>& requests) {
        received = requests;
        return true;
    };
    Peer peer({QStringLiteral("--drag"), file});
    std::unique_ptr<QProcess> drag;
    ASSERT_NO_FATAL_FAILURE(dragFromPeerOntoRope(peer, drag));
    ASSERT_TRUE(waitUntil([&] { return !received.isEmpty(); }));
    ASSERT_EQ(received.size(), 1);
    ASSERT_TRUE(received[0].asFile());
    EXPECT_EQ(received[0].asFile()->url, QUrl::fromLocalFile(file));
    EXPECT_EQ(received[0].asFile()->origin, ImportOrigin::drop);
    EXPECT_EQ(line.dropCount(), 0);
}

// A picture over the pixel budget is refused with an alert; the program
// answers the drop (XdndFinished) before the alert runs, so the drag source
// is not left waiting while it is up. The alert only informs: its one
// button is OK.
TEST_F(ShelfX11Test, ATooLargePictureDropIsAnsweredBeforeItsAlert)
{
    QTemporaryDir folder;
    const QString file = test::writeFixture(folder, QStringLiteral("huge.png"), test::craftedPng(8193, 4096));
    Peer peer({QStringLiteral("--drag"), file});
    bool answeredWhileUp = false;
    QString answer;
    QStringList buttons;
    int alerts = 0;
    WorkflowAlerts workflowAlerts(line, {}, [&](Alert& alert) {
        ++alerts;
        for (const QAbstractButton* button : alert.window()->buttons())
            buttons.append(button->text());
        // As a modal alert's loop would, runs events while it is up; the
        // bound only ends the wait of a program that never answers.
        alert.window()->open();
        answeredWhileUp = waitUntil(
            [&] {
                peer.process.waitForReadyRead(20);
                while (peer.process.canReadLine()) {
                    answer = QString::fromUtf8(peer.process.readLine()).trimmed();
                    if (answer.startsWith(QStringLiteral("answered")))
                        return alert.window()->isVisible();
                }
                return false;
            },
            8000);
        alert.window()->done(0);
        return Alert::cancelResponse;
    });
    line.onError = [&](std::exception_ptr error) { workflowAlerts.presentActionError(error); };
    std::unique_ptr<QProcess> drag;
    ASSERT_NO_FATAL_FAILURE(dragFromPeerOntoRope(peer, drag));
    ASSERT_TRUE(waitUntil([&] { return alerts == 1; }));
    EXPECT_TRUE(answeredWhileUp) << "the drag source got no answer while the alert was up";
    EXPECT_EQ(answer, QStringLiteral("answered 0")) << "the drop is refused";
    EXPECT_EQ(buttons, QStringList{appLocalizer().string(MessageKey::alertOk)});
}

TEST_F(ShelfX11Test, CardDraggedOutDeliversItsFile)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("Tolvex-1234abcd.png"));
    QByteArray payload(40000, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7);
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(payload);
    out.close();
    line.onPrepareDrag = [file](const Pegged&) -> QCoro::Task<std::shared_ptr<QMimeData>> {
        auto data = std::make_shared<QMimeData>();
        data->setUrls({QUrl::fromLocalFile(file)});
        data->setData(QString::fromUtf16(PasteboardType::ownCopy), "1");
        co_return data;
    };
    Peer peer;
    panel->raise();
    const QPoint card = cardCentre(0);
    const auto drag = dragAlong(card, {card + QPoint(0, 10), card + QPoint(0, 30), {card.x(), 300},
        {card.x(), 400}, {card.x(), 500}, {card.x(), 520}});
    QString report;
    ASSERT_TRUE(waitUntil([&] {
        QCoreApplication::processEvents();
        if (peer.process.canReadLine() || peer.process.waitForReadyRead(20))
            report = QString::fromUtf8(peer.process.readLine()).trimmed();
        return report.startsWith(QStringLiteral("drop"));
    }));
    const QUrl url(report.section(u' ', 1, 1));
    QFile delivered(url.toLocalFile());
    ASSERT_TRUE(delivered.open(QIODevice::ReadOnly)) << report.toStdString();
    EXPECT_EQ(delivered.readAll(), payload);
    EXPECT_TRUE(waitUntil([] { return !GrabView::isDragging(); }));
}

TEST_F(ShelfX11Test, PanelShowsRopeRedStretchAndCards)
{
    const QImage image = panel->grab().toImage();
    const qreal scale = image.devicePixelRatio();
    auto pixel = [&](QPointF at) { return image.pixelColor((at * scale).toPoint()); };
    // The rope, 40 % across: an opaque pixel on its line.
    const double x = screenWidth * 0.4;
    EXPECT_GT(pixel({x, LineRopeGeometry::y(x, screenWidth)}).alpha(), 100);
    // Between rope and cards, nothing: the desktop shows through.
    EXPECT_EQ(pixel({30, 120}).alpha(), 0);
    // The red stretch at the golden section.
    const double mx = LineInputLayout::settingsRegion(screenWidth).center().x();
    const QColor red = pixel({mx, LineRopeGeometry::y(mx, screenWidth)});
    EXPECT_GT(red.red(), 180);
    EXPECT_LT(red.green(), 120);
    // Each card shows its picture in the middle.
    const QColor expected[] = {QColor(220, 40, 40), QColor(40, 180, 60), QColor(40, 80, 220)};
    for (int i = 0; i < 3; ++i) {
        const QRectF card = line.hitRects.value(line.items()[i].id);
        const QColor seen = pixel(card.center() - QPointF(0, 10));
        EXPECT_NEAR(seen.red(), expected[i].red(), 40) << i;
        EXPECT_NEAR(seen.green(), expected[i].green(), 40) << i;
        EXPECT_NEAR(seen.blue(), expected[i].blue(), 40) << i;
    }
}

} // namespace
} // namespace tolvex
