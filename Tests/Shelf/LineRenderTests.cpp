#include "ShelfTesting.h"

#include "Velmarin/Shelf/LineGeometry.h"

#include <QMutex>
#include <QSemaphore>

namespace tolvex {
namespace {

using namespace testing;

class LineRenderTest : public ::testing::Test {
protected:
    LineRenderTest() : line(store, defaults, thumbnails.maker()) {}

    // Answers payload call `index` with the fixture's files and lets the
    // render finish.
    void settle(std::size_t index, const PresentationPayloads& locations)
    {
        ControlledLineStore::settle(*store.payloadCalls.at(index), locations);
    }
    void settle(std::size_t index) { settle(index, fixture.locations(store.payloadCalls.at(index)->records)); }
    void renderNow(const WorkspaceSnapshot& snapshot, std::optional<QUuid> flightID = std::nullopt)
    {
        QCoro::Task<void> task = line.render(snapshot, flightID);
        if (!task.isReady()) {
            settle(store.payloadCalls.size() - 1);
            ASSERT_TRUE(waitUntil([&] { return task.isReady(); }));
        }
    }
    QList<QUuid> ids() const
    {
        QList<QUuid> result;
        for (const Pegged& card : line.items())
            result.append(card.id);
        return result;
    }

    ControlledLineStore store;
    MemoryUserDefaults defaults;
    CountingThumbnails thumbnails;
    ShelfFixture fixture;
    Line line;
};

TEST_F(LineRenderTest, LatestRenderWinsWhicheverStoreCallReturnsFirst)
{
    for (const bool newerFirst : {false, true}) {
        SCOPED_TRACE(newerFirst ? "newer settles first" : "older settles first");
        ControlledLineStore races;
        CountingThumbnails counted;
        Line racing(races, defaults, counted.maker());
        ShelfFixture cards;
        const QUuid a = cards.add(QStringLiteral("a")).id;
        const WorkspaceSnapshot older = cards.snapshot;
        const QUuid b = cards.add(QStringLiteral("b")).id;
        const WorkspaceSnapshot newer = cards.snapshot;

        QCoro::Task<void> first = racing.render(older);
        QCoro::Task<void> second = racing.render(newer);
        ASSERT_EQ(races.payloadCalls.size(), 2u);
        for (const std::size_t index : newerFirst ? std::vector<std::size_t>{1, 0} : std::vector<std::size_t>{0, 1})
            ControlledLineStore::settle(*races.payloadCalls[index], cards.locations(races.payloadCalls[index]->records));
        ASSERT_TRUE(waitUntil([&] { return first.isReady() && second.isReady(); }));
        ASSERT_TRUE(settlePictures(racing));

        QList<QUuid> shown;
        for (const Pegged& card : racing.items())
            shown.append(card.id);
        EXPECT_EQ(shown, (QList<QUuid>{a, b}));
        // The stale render made no picture of its own.
        EXPECT_EQ(counted.count(), 2);
        EXPECT_EQ(racing.presentationCount(), 2);
    }
}

TEST_F(LineRenderTest, CoverBeatsARenderWaitingForTheStoreOrForItsPictures)
{
    fixture.add(QStringLiteral("a"));
    // Covered while the store call is out.
    {
        QCoro::Task<void> render = line.render(fixture.snapshot);
        line.coverImmediately();
        settle(0);
        ASSERT_TRUE(waitUntil([&] { return render.isReady(); }));
        EXPECT_TRUE(line.items->isEmpty());
        EXPECT_EQ(line.presentationCount(), 0);
        EXPECT_TRUE(line.snapshot->privacyHidden);
    }
    // Covered while the pictures are being made on worker threads.
    ControlledLineStore slowStore;
    auto gate = std::make_shared<QSemaphore>(0);
    auto entered = std::make_shared<std::atomic<bool>>(false);
    Line slow(slowStore, defaults, [gate, entered](const QUrl&) -> std::optional<QImage> {
        *entered = true;
        gate->acquire();
        return QImage(2, 2, QImage::Format_ARGB32);
    });
    QCoro::Task<void> render = slow.render(fixture.snapshot);
    ControlledLineStore::settle(*slowStore.payloadCalls[0], fixture.locations(slowStore.payloadCalls[0]->records));
    ASSERT_TRUE(waitUntil([&] { return entered->load(); }));
    slow.coverImmediately();
    gate->release();
    ASSERT_TRUE(waitUntil([&] { return render.isReady(); }));
    ASSERT_TRUE(settlePictures(slow));
    EXPECT_TRUE(slow.items->isEmpty());
    EXPECT_EQ(slow.presentationCount(), 0);
}

TEST_F(LineRenderTest, CardsKeepTiltAndMarksOnlyWhenIdVersionAndFileMatch)
{
    enum class Change { rename, newVersion, movedFile };
    const struct {
        const char* name;
        Change change;
        bool kept;
    } cases[] = {
        {"rename", Change::rename, true},
        {"new version", Change::newVersion, false},
        {"file moved", Change::movedFile, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ControlledLineStore cardStore;
        CountingThumbnails counted;
        Line cardLine(cardStore, defaults, counted.maker());
        ShelfFixture cards;
        const QUuid id = cards.add(QStringLiteral("before")).id;
        auto renderAll = [&](const WorkspaceSnapshot& snapshot, std::optional<QUuid> flight,
                             std::function<PresentationPayloads(const QList<MaterialRecord>&)> locate) {
            QCoro::Task<void> task = cardLine.render(snapshot, flight);
            ControlledLineStore::settle(*cardStore.payloadCalls.back(), locate(cardStore.payloadCalls.back()->records));
            ASSERT_TRUE(waitUntil([&] { return task.isReady(); }));
        };
        auto atFixture = [&](const QList<MaterialRecord>& records) { return cards.locations(records); };
        renderAll(cards.snapshot, std::nullopt, atFixture);
        ASSERT_TRUE(settlePictures(cardLine));
        cardLine.animateTakeDown(id);
        const Pegged before = cardLine.items->first();
        ASSERT_TRUE(before.falling);

        std::function<PresentationPayloads(const QList<MaterialRecord>&)> locate = atFixture;
        cards.snapshot.findMaterial(id)->title = QStringLiteral("after");
        if (c.change == Change::newVersion)
            cards.newVersion(id);
        if (c.change == Change::movedFile) {
            locate = [&](const QList<MaterialRecord>& records) {
                PresentationPayloads moved = cards.locations(records);
                moved[id].url = QUrl::fromLocalFile(cards.folder.filePath(QStringLiteral("elsewhere")));
                return moved;
            };
        }
        renderAll(cards.snapshot, id, locate);
        ASSERT_TRUE(settlePictures(cardLine));

        const Pegged after = cardLine.items->first();
        EXPECT_EQ(after.displayTitle, QStringLiteral("after"));
        EXPECT_EQ(after.falling, c.kept);
        EXPECT_EQ(after.flying, !c.kept); // the flight mark goes only to a new card
        EXPECT_EQ(after.tilt == before.tilt, c.kept);
        EXPECT_GE(after.tilt, -2.5);
        EXPECT_LE(after.tilt, 2.5);
        // A rename reuses the cached picture; a new version makes one.
        EXPECT_EQ(counted.count(), c.change == Change::newVersion ? 2 : 1);
        cardLine.land(id);
        EXPECT_FALSE(cardLine.items->first().flying);
    }
}

TEST_F(LineRenderTest, CacheHoldsExactlyTheEntriesOfTheLastRender)
{
    fixture.add(QStringLiteral("a"));
    const MaterialRecord b = fixture.add(QStringLiteral("b"));
    const WorkspaceSnapshot both = fixture.snapshot;
    WorkspaceSnapshot onlyA = both;
    onlyA.materials.removeLast();
    const Line::PresentationKey keyB{b.id, b.activeVersionID, b.versions.first().sha256};

    const struct {
        const WorkspaceSnapshot* snapshot;
        int cached;
        int madeSoFar;
        bool holdsB;
    } steps[] = {{&both, 2, 2, true}, {&onlyA, 1, 2, false}, {&both, 2, 3, true}};
    for (const auto& step : steps) {
        renderNow(*step.snapshot);
        ASSERT_TRUE(settlePictures(line));
        EXPECT_EQ(line.presentationCount(), step.cached);
        EXPECT_EQ(thumbnails.count(), step.madeSoFar);
        EXPECT_EQ(line.hasPresentation(keyB), step.holdsB);
    }

    line.resizeViewport(1000);
    line.scrollOffset = 50;
    WorkspaceSnapshot empty = both;
    empty.materials.clear();
    renderNow(empty);
    EXPECT_TRUE(line.items->isEmpty());
    EXPECT_EQ(line.presentationCount(), 0);
    EXPECT_EQ(line.scrollOffset(), 0);
}

TEST_F(LineRenderTest, CardsThatCannotHangAreReportedOnceAndLeftOut)
{
    const QUuid missing = fixture.add(QStringLiteral("missing")).id;
    const QUuid failing = fixture.add(QStringLiteral("failing")).id;
    MaterialRecord& orphan = fixture.add(QStringLiteral("no active version"));
    orphan.activeVersionID = QUuid::createUuid();
    const QUuid fine = fixture.add(QStringLiteral("fine")).id;

    std::vector<StoreError::Code> reported;
    line.onError = [&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const StoreError& storeError) {
            reported.push_back(storeError.code());
        }
    };
    QCoro::Task<void> task = line.render(fixture.snapshot);
    PresentationPayloads locations = fixture.locations(store.payloadCalls[0]->records);
    locations.remove(missing);
    locations[failing] = PayloadLocation{{}, std::make_exception_ptr(StoreError::invalidPath())};
    settle(0, locations);
    ASSERT_TRUE(waitUntil([&] { return task.isReady(); }));

    EXPECT_EQ(ids(), QList<QUuid>{fine});
    EXPECT_EQ(reported, (std::vector<StoreError::Code>{StoreError::Code::notFound, StoreError::Code::invalidPath,
                            StoreError::Code::invalidSnapshot}));
}

TEST_F(LineRenderTest, FlightTargetIsScrolledIntoViewWithinTheRow)
{
    QList<QUuid> cards;
    for (int i = 0; i < 10; ++i)
        cards.append(fixture.add(QString::number(i)).id);
    line.resizeViewport(300);
    renderNow(fixture.snapshot); // the newest arrival, card 9, comes into view
    EXPECT_EQ(line.scrollOffset(), 1496);
    // Card 5's centre is 985: brought in from the right its left edge sits
    // 40 points inside the strip, from the left its right edge does.
    const struct {
        int card;
        double expected;
    } flights[] = {{5, 870}, {0, 0}, {5, 800}};
    for (const auto& flight : flights) {
        renderNow(fixture.snapshot, cards[flight.card]);
        EXPECT_EQ(line.scrollOffset(), flight.expected) << flight.card;
        EXPECT_FALSE(line.items()[flight.card].flying); // already on the line: not marked
    }
}

// A picture the size of a card's, one colour per file.
QImage pictureOf(const QUrl& url)
{
    QImage image(12, 9, QImage::Format_ARGB32);
    image.fill(QColor::fromRgb(QRgb(qHash(url.path()) & 0xFFFFFF)));
    return image;
}

bool isPlaceholder(const Pegged& card)
{
    return card.thumb.format() == QImage::Format_Mono;
}

TEST_F(LineRenderTest, PicturesInViewComeFirstThenNeighboursAndFarOnesLeaveMemory)
{
    auto mutex = std::make_shared<QMutex>();
    auto asked = std::make_shared<QList<QUrl>>();
    ControlledLineStore rowStore;
    Line row(rowStore, defaults, [mutex, asked](const QUrl& url) -> std::optional<QImage> {
        const QMutexLocker lock(mutex.get());
        asked->append(url);
        return pictureOf(url);
    });
    row.setPictureWorkers(1);
    constexpr double width = 600;
    row.resizeViewport(width);
    ShelfFixture cards;
    for (int i = 0; i < 40; ++i)
        cards.add(QString::number(i));
    QCoro::Task<void> task = row.render(cards.snapshot);
    ControlledLineStore::settle(*rowStore.payloadCalls[0], cards.locations(rowStore.payloadCalls[0]->records));
    ASSERT_TRUE(waitUntil([&] { return task.isReady(); }));

    // The render scrolled to its newest card, the last; then the row goes
    // back to its start.
    qsizetype askedBefore = 0;
    for (const double scroll : {row.scrollOffset(), 0.0}) {
        SCOPED_TRACE(scroll);
        row.scrollOffset = scroll;
        ASSERT_TRUE(settlePictures(row));
        const QList<Pegged>& shown = row.items();
        QList<int> inView;
        for (int i = 0; i < shown.size(); ++i) {
            const double x = row.cardX(i, width);
            if (x + 75 > 0 && x - 75 < width)
                inView.append(i);
        }
        ASSERT_FALSE(inView.isEmpty());
        const int page = int(inView.size());
        const auto distance = [&](int i) {
            return std::max({inView.first() - i, i - inView.last(), 0});
        };
        QList<QUrl> nowAsked;
        {
            const QMutexLocker lock(mutex.get());
            nowAsked = asked->mid(askedBefore);
            askedBefore = asked->size();
        }
        QList<QUrl> expectedFirst;
        for (const int i : inView)
            expectedFirst.append(shown[i].url);
        EXPECT_EQ(nowAsked.mid(0, page), expectedFirst);
        for (int i = 0; i < shown.size(); ++i) {
            const bool wasAsked = nowAsked.contains(shown[i].url);
            if (wasAsked) {
                EXPECT_LE(distance(i), page) << i;
            }
            if (distance(i) <= page) {
                EXPECT_FALSE(isPlaceholder(shown[i])) << i;
            }
            if (distance(i) > 2 * page) {
                EXPECT_TRUE(isPlaceholder(shown[i])) << i; // never made, or left memory
            }
        }
    }
}

TEST_F(LineRenderTest, LatePicturesForAnotherRenderOrUnderTheCoverAreDropped)
{
    enum class Change { movedFile, newVersion, cover };
    const struct {
        const char* name;
        Change change;
    } cases[] = {{"file moved", Change::movedFile}, {"new version", Change::newVersion}, {"cover", Change::cover}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShelfFixture cards;
        const QUuid id = cards.add(QStringLiteral("a")).id;
        const QUrl late = cards.urlFor(cards.snapshot.materials.first());
        auto gate = std::make_shared<QSemaphore>(0);
        auto entered = std::make_shared<std::atomic<bool>>(false);
        ControlledLineStore lateStore;
        Line lateLine(lateStore, defaults, [gate, entered, late](const QUrl& url) -> std::optional<QImage> {
            if (url == late) {
                *entered = true;
                gate->acquire();
            }
            return pictureOf(url);
        });
        std::vector<QRgb> published;
        Subscription watch = lateLine.items.subscribe([&](const QList<Pegged>& shown) {
            for (const Pegged& card : shown)
                published.push_back(card.thumb.pixel(0, 0));
        });
        const auto renderAt = [&](const PresentationPayloads& locations) {
            QCoro::Task<void> task = lateLine.render(cards.snapshot);
            ControlledLineStore::settle(*lateStore.payloadCalls.back(), locations);
            ASSERT_TRUE(waitUntil([&] { return task.isReady(); }));
        };
        renderAt(cards.locations(cards.snapshot.materials));
        ASSERT_TRUE(waitUntil([&] { return entered->load(); }));

        PresentationPayloads next = cards.locations(cards.snapshot.materials);
        if (c.change == Change::movedFile)
            next[id].url = QUrl::fromLocalFile(cards.folder.filePath(QStringLiteral("elsewhere")));
        if (c.change == Change::newVersion) {
            cards.newVersion(id);
            next = cards.locations(cards.snapshot.materials);
        }
        if (c.change == Change::cover)
            lateLine.coverImmediately();
        else
            renderAt(next);
        gate->release();
        ASSERT_TRUE(settlePictures(lateLine));

        EXPECT_EQ(std::count(published.begin(), published.end(), pictureOf(late).pixel(0, 0)), 0);
        if (c.change == Change::cover) {
            EXPECT_TRUE(lateLine.items->isEmpty());
            EXPECT_EQ(lateLine.presentationCount(), 0);
        } else {
            ASSERT_EQ(lateLine.items->size(), 1);
            EXPECT_EQ(lateLine.items->first().thumb.pixel(0, 0), pictureOf(next[id].url).pixel(0, 0));
        }
    }
}

// An offered decode is the picture of the cards of its digest alone, made
// without the maker, and never taken under the cover or after one.
TEST_F(LineRenderTest, OfferedDecodesServeOnlyTheirDigestAndNeverAcrossACover)
{
    enum class Offer { itsDigest, anotherDigest, notWholeDecoded, underTheCover, beforeACover };
    const struct {
        const char* name;
        Offer offer;
        bool taken;
    } cases[] = {
        {"its digest", Offer::itsDigest, true},
        {"another digest", Offer::anotherDigest, false},
        {"a type decoded at a reduced scale", Offer::notWholeDecoded, false},
        {"offered under the cover", Offer::underTheCover, false},
        {"covered while it was made", Offer::beforeACover, false},
    };
    const QImage decoded(960, 540, QImage::Format_RGB32);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShelfFixture cards;
        const QString digest = cards.add(QStringLiteral("capture")).versions.first().sha256;
        ControlledLineStore offerStore;
        CountingThumbnails made;
        Line offered(offerStore, defaults, made.maker());
        std::vector<QSize> published;
        Subscription watch = offered.items.subscribe([&](const QList<Pegged>& shown) {
            for (const Pegged& card : shown)
                published.push_back(card.thumb.size());
        });

        if (c.offer == Offer::underTheCover)
            offered.coverImmediately();
        const QString offeredDigest = c.offer == Offer::anotherDigest ? QString(64, u'b') : digest;
        offered.offerPicture(offeredDigest, decoded,
            c.offer == Offer::notWholeDecoded ? QStringLiteral("public.jpeg") : QStringLiteral("public.png"));
        if (c.offer == Offer::beforeACover)
            offered.coverImmediately();

        QCoro::Task<void> task = offered.render(cards.snapshot);
        ControlledLineStore::settle(*offerStore.payloadCalls.back(), cards.locations(cards.snapshot.materials));
        ASSERT_TRUE(waitUntil([&] { return task.isReady(); }));
        ASSERT_TRUE(settlePictures(offered));

        ASSERT_EQ(offered.items->size(), 1);
        const QSize face = offered.items->first().thumb.size();
        EXPECT_EQ(made.count(), c.taken ? 0 : 1);
        EXPECT_EQ(face, c.taken ? QSize(480, 270) : QSize(4, 4));
        EXPECT_EQ(std::count(published.begin(), published.end(), QSize(480, 270)) > 0, c.taken);
    }
}

} // namespace
} // namespace tolvex
