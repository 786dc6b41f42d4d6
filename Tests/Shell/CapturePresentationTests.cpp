#include "Shell/PresentationTwins.h"
#include "Shell/ShellTesting.h"
#include "Support/EventLoopWait.h"
#include "Velmarin/Shell/CapturePresentation.h"
#include "Velmarin/Shell/ShelfPresentation.h"

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// A line with one card on two screens, and a capture presentation over it.
struct Scene {
    Scene()
    {
        system.screenList = {{QStringLiteral("left"), QRectF(0, 0, 1280, 800), QRectF(0, 30, 1280, 770)},
            {QStringLiteral("right"), QRectF(1280, 0, 1000, 800), QRectF(1280, 0, 1000, 800)}};
        system.pointerAt = QPointF(640, 700);
        first = addCard(QStringLiteral("first"));
        testing::finish(line.render(fixture.snapshot));
        testing::settlePictures(line);
        presentation.lastLiveCount = 1;
    }
    // A card whose file is a square picture, as its thumbnail is: it keeps
    // its frame from the placeholder to the picture.
    QUuid addCard(const QString& title)
    {
        const MaterialRecord& record = fixture.add(title);
        QImage square(4, 4, QImage::Format_ARGB32);
        square.fill(Qt::red);
        square.save(fixture.urlFor(record).toLocalFile(), "PNG");
        return record.id;
    }
    // A new card arrives, as the intake hands it over.
    QUuid arrive(std::optional<QRectF> area)
    {
        const QUuid id = addCard(QStringLiteral("new"));
        testing::finish(capture.presentCapture(id, area, fixture.snapshot));
        QCoreApplication::processEvents();
        return id;
    }
    const Pegged* card(const QUuid& id) const
    {
        for (const Pegged& item : line.items()) {
            if (item.id == id)
                return &item;
        }
        return nullptr;
    }

    testing::ShelfFixture fixture;
    testing::ScriptedStore store{fixture};
    testing::MemoryUserDefaults defaults;
    testing::CountingThumbnails thumbnails;
    Line line{store, defaults, thumbnails.maker()};
    testing::TwinSystem system;
    testing::TwinPanel panel{system};
    ShelfPresentation presentation{line, panel, system};
    testing::CountingSound sound;
    std::vector<FlightRequest> flights;
    bool reduceMotion = false;
    CapturePresentation capture{line, presentation, panel, system, sound, defaults,
        {[this](FlightRequest flight) { flights.push_back(std::move(flight)); },
            [](const QUrl&, int pixels) { return std::optional(QImage(pixels, pixels / 2, QImage::Format_ARGB32)); },
            [this] { return reduceMotion; }, [](const PresentationScreen&) { return 2.0; }}};
    QUuid first;
};

class CapturePresentationTest : public ::testing::Test, protected Scene {};

TEST_F(CapturePresentationTest, ClipboardArrivalPeeksAndSoundsWithoutFlying)
{
    const QUuid id = arrive(std::nullopt);
    EXPECT_EQ(panel.frameNow, QRectF(0, 30, 1280, 210));
    EXPECT_TRUE(presentation.isRevealed);
    EXPECT_EQ(presentation.peekUntil, system.clock + 2.5);
    EXPECT_EQ(sound.plays, 1);
    ASSERT_NE(card(id), nullptr);
    EXPECT_FALSE(card(id)->flying);
    EXPECT_TRUE(flights.empty());
}

TEST_F(CapturePresentationTest, ScreenshotFliesFromTheScreenHoldingMostOfIt)
{
    // 280 points on the left screen, 320 on the right.
    const QRectF area(1000, 100, 600, 200);
    const QUuid id = arrive(area);
    EXPECT_EQ(panel.frameNow, QRectF(1280, 0, 1000, 210));
    ASSERT_TRUE(testing::waitUntil([&] { return flights.size() == 1; }));
    EXPECT_TRUE(card(id)->flying);
    EXPECT_EQ(flights[0].from, area);
    EXPECT_EQ(flights[0].to, *capture.cardFrame(id));
    EXPECT_EQ(flights[0].image.width(), 1200); // 600 points at scale 2
    EXPECT_FALSE(flights[0].falling);
    flights[0].completion();
    EXPECT_FALSE(card(id)->flying);

    // A card still flying in gets no fall.
    Pegged flying = *card(id);
    flying.flying = true;
    capture.fall(flying);
    EXPECT_EQ(flights.size(), 1u);
    capture.fall(*card(id));
    ASSERT_EQ(flights.size(), 2u);
    EXPECT_TRUE(flights[1].falling);
    EXPECT_EQ(flights[1].duration, 0.55);
}

TEST(CapturePresentation, WhatKeepsACardFromFlying)
{
    struct Case {
        const char* name;
        std::function<void(Scene&)> arrange;
        bool revealed;
        int plays;
    };
    const std::vector<Case> cases = {
        {"reduced motion", [](Scene& s) { s.reduceMotion = true; }, true, 1},
        {"full-screen space", [](Scene& s) { s.system.states[QStringLiteral("left")] = FullScreen::State::fullScreen; },
            false, 0},
        {"privacy cover", [](Scene& s) { s.line.coverImmediately(); }, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene;
        c.arrange(scene);
        const QUuid id = scene.arrive(QRectF(100, 100, 300, 200));
        QCoreApplication::processEvents();
        EXPECT_TRUE(scene.flights.empty());
        EXPECT_EQ(scene.presentation.isRevealed, c.revealed);
        EXPECT_EQ(scene.sound.plays, c.plays);
        EXPECT_NE(scene.line.snapshot->findMaterial(id), nullptr);
        if (const Pegged* arrived = scene.card(id)) {
            EXPECT_FALSE(arrived->flying);
        }
    }
}

// The flight's picture is made from the capture's own decode, scaled as the
// file's would be, only for the payload of that digest.
TEST(CapturePresentation, AFlightTakesTheOfferedDecodeOfItsOwnPayloadOnly)
{
    const QImage decoded(2400, 1000, QImage::Format_RGB32);
    for (const bool ownPayload : {true, false}) {
        SCOPED_TRACE(ownPayload ? "its payload" : "another payload");
        Scene scene;
        const QUuid id = scene.addCard(QStringLiteral("new"));
        const QString digest = scene.fixture.snapshot.findMaterial(id)->versions.first().sha256;
        scene.capture.offerPicture({ownPayload ? digest : QString(64, u'b'), decoded, QStringLiteral("public.png")});
        testing::finish(scene.capture.presentCapture(id, QRectF(100, 100, 600, 200), scene.fixture.snapshot));
        ASSERT_TRUE(testing::waitUntil([&] { return scene.flights.size() == 1; }));
        // 600 points at scale 2: the decode brought to 1,200 pixels, else the file's picture.
        EXPECT_EQ(scene.flights[0].image.size(), ownPayload ? QSize(1200, 500) : QSize(1200, 600));
    }
}

TEST_F(CapturePresentationTest, CardFrameFollowsTheThumbnailAndTheViewport)
{
    presentation.place(system.screenList[0]);
    const std::optional<QRectF> frame = capture.cardFrame(first);
    ASSERT_TRUE(frame);
    // A square thumbnail fills the 104-point side of the card box, plus the border.
    EXPECT_EQ(frame->size(), QSizeF(112, 112));
    EXPECT_DOUBLE_EQ(frame->center().x(), line.cardX(0, 1280));
    EXPECT_GE(frame->top(), 30 + 28.5);
    EXPECT_LE(frame->top(), 30 + 28.5 + 30);
    EXPECT_FALSE(capture.cardFrame(QUuid::createUuid()));
    panel.frameNow.setWidth(1);
    EXPECT_FALSE(capture.cardFrame(first));
}

} // namespace
} // namespace tolvex
