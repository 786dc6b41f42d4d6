#include "ShelfTesting.h"

#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/ClosureMenuItem.h"
#include "Velmarin/Shelf/GrabArea.h"
#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/LineRopeGeometry.h"
#include "Velmarin/Shelf/RopeSettingsButton.h"

#include <QMenu>

namespace tolvex {
namespace {

using namespace testing;

class GrabAreaTest : public ::testing::Test {
protected:
    GrabAreaTest() : line(store, defaults, CountingThumbnails().maker()) {}

    // One hanging card of the kind, a note when asked, on a revealed line.
    Pegged hang(MaterialKind kind, bool note)
    {
        ShelfFixture fixture;
        MaterialRecord& record = fixture.add(QStringLiteral("card"), kind);
        record.source.origin = note ? ImportOrigin::note : ImportOrigin::clipboard;
        line.snapshot = fixture.snapshot;
        Pegged card;
        card.id = record.id;
        card.kind = kind;
        line.items = QList<Pegged>{card};
        line.revealed = true;
        return card;
    }
    QStringList rows(const Pegged& card)
    {
        std::unique_ptr<QMenu> menu(GrabArea{card, &line}.cardMenu());
        QStringList titles;
        for (QAction* action : menu->actions())
            titles.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        return titles;
    }

    ControlledLineStore store;
    MemoryUserDefaults defaults;
    Line line;
};

TEST_F(GrabAreaTest, CardMenuRows)
{
    const Localizer l = appLocalizer();
    auto t = [&](MessageKey key) { return l.string(key); };
    const QString copy = t(MessageKey::copy), details = t(MessageKey::materialDetails),
                  show = t(MessageKey::showInFinder), down = t(MessageKey::takeDown);
    const struct {
        MaterialKind kind;
        bool note;
        QStringList expected;
    } cases[] = {
        {MaterialKind::text, false,
            {copy, t(MessageKey::copyWithSource), details, t(MessageKey::editText), show, "-", down}},
        {MaterialKind::image, false, {copy, details, t(MessageKey::markup), show, "-", down}},
        {MaterialKind::pdf, false, {copy, details, show, "-", down}},
        {MaterialKind::file, false, {copy, details, show, "-", down}},
        {MaterialKind::text, true, {copy, details, t(MessageKey::noteContinue), show, "-", down}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rows(hang(c.kind, c.note)), c.expected) << int(c.kind) << c.note;

    // The last row takes the card down through the line.
    const Pegged card = hang(MaterialKind::image, false);
    std::optional<MaterialCommand> sent;
    line.onCommand = [&](const MaterialCommand& command) { sent = command; };
    std::unique_ptr<QMenu> menu(GrabArea{card, &line}.cardMenu());
    static_cast<ClosureMenuItem*>(menu->actions().last())->fire();
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ(sent->value.index(), MaterialCommand::takeDown(card.id).value.index());
}

TEST_F(GrabAreaTest, AccessibleTitleIsCutAtACharacter)
{
    Pegged card = hang(MaterialKind::text, false);
    const QString a59(59, QLatin1Char('a'));
    const struct {
        QString title;
        QString spoken;
    } cases[] = {
        // The 60th unit is the first half of a pair: the character goes whole.
        {a59 + QStringLiteral("\U0001F600 tail"), a59},
        {QStringLiteral("\U0001F600") + a59, QStringLiteral("\U0001F600") + QString(58, QLatin1Char('a'))},
    };
    for (const auto& c : cases) {
        card.displayTitle = c.title;
        const QString label = line.cardAccessibilityLabel(card);
        EXPECT_TRUE(label.contains(QStringLiteral(" · ") + c.spoken + QStringLiteral(" · "))) << label.toStdString();
    }
}

TEST_F(GrabAreaTest, ConfigurationFollowsTheLine)
{
    const Pegged card = hang(MaterialKind::image, false);
    GrabView view;
    GrabArea{card, &line}.configure(view);
    EXPECT_TRUE(view.isContentAvailable());
    EXPECT_FALSE(view.accessibleLabel.isEmpty());

    const struct {
        const char* name;
        std::function<void(Line&)> change;
    } unavailable[] = {
        {"covered", [](Line& l) { l.snapshot.modify([](WorkspaceSnapshot& s) { s.privacyHidden = true; }); }},
        {"hidden", [](Line& l) { l.revealed = false; }},
        {"falling", [](Line& l) { l.items.modify([](QList<Pegged>& cards) { cards[0].falling = true; }); }},
        {"gone", [](Line& l) { l.items = QList<Pegged>{}; }},
    };
    for (const auto& c : unavailable) {
        hang(MaterialKind::image, false);
        line.items = QList<Pegged>{card};
        GrabArea{card, &line}.configure(view);
        c.change(line);
        EXPECT_FALSE(view.isContentAvailable()) << c.name;
        GrabArea{card, &line}.configure(view);
        EXPECT_TRUE(view.accessibleLabel.isEmpty()) << c.name;
        EXPECT_TRUE(view.dragImage.isNull()) << c.name;
    }

    // A press names the card on the line and lets the line cancel it; only
    // a drag of the pressed card is allowed.
    hang(MaterialKind::image, false);
    line.items = QList<Pegged>{card};
    GrabArea{card, &line}.configure(view);
    EXPECT_FALSE(view.canDrag());
    view.onPressChange(true);
    EXPECT_EQ(line.pressedID(), card.id);
    EXPECT_TRUE(view.canDrag());
    ASSERT_TRUE(static_cast<bool>(line.cancelPress));
    const std::uint64_t generation = view.gestureGeneration();
    line.cancelPress();
    EXPECT_GT(view.gestureGeneration(), generation);
    EXPECT_FALSE(line.pressedID().has_value());
    EXPECT_FALSE(static_cast<bool>(line.cancelPress));
    // A release of another card leaves this one's press alone.
    line.pressedID = QUuid::createUuid();
    view.onPressChange(false);
    EXPECT_TRUE(line.pressedID().has_value());
}

TEST(RopeSettingsButtonTest, StretchTakesOnlyPointsOnTheRope)
{
    const double rope = 1100;
    const QRectF region = LineInputLayout::settingsRegion(rope);
    RopeSettingsButton button;
    button.ropeWidth = rope;
    button.ropeOrigin = region.topLeft();
    const double c = region.center().x();
    auto at = [&](double x, double dy) {
        return QPointF(x - region.left(), LineRopeGeometry::y(x, rope) - region.top() + dy);
    };
    const struct {
        double x;
        double dy;
        bool on;
    } cases[] = {{c, 0, true}, {c + 17, 3, true}, {c - 17, -3, true}, {c + 17.5, 0, false}, {c, 3.5, false},
        {c - 10, -4, false}};
    for (const auto& k : cases)
        EXPECT_EQ(button.isOnStretch(at(k.x, k.dy)), k.on) << k.x - c << " " << k.dy;
}

} // namespace
} // namespace tolvex
