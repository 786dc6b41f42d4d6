#include "ShelfTesting.h"

#include "Velmarin/Shelf/CardFace.h"
#include "Velmarin/Shelf/GrabView.h"
#include "Velmarin/Shelf/LineHostingView.h"
#include "Velmarin/Shelf/LineView.h"
#include "Velmarin/Shelf/PeggedView.h"

#include <QApplication>

#include <cmath>

namespace tolvex {
namespace {

using namespace testing;

const QString latin = QStringLiteral("Meeting notes: bring the quarterly figures and the draft agreement for review");
const QString chinese
    = QStringLiteral("会议记录：请带上季度数据和协议草案，以便大家在周五之前审阅并提出修改意见，谢谢大家的配合与支持");

// Chinese falls back to a font whose lines are taller than the Latin
// font's: four lines must still fit whole, at the preview's size and at a
// quarter more, and the first keeps clear of the take-down mark's corner.
TEST(CardFaceTest, PreviewLinesFitTheirBox)
{
    // A text card's preview box inside its mat, and the mark's corner.
    const QRectF box(11, 11, 122, 69);
    const QRectF corner(0, 0, 25, 23);
    for (const QString& text : {latin, chinese}) {
        for (const double scale : {1.0, 1.25}) {
            SCOPED_TRACE(QStringLiteral("%1 at %2").arg(text.left(4)).arg(scale).toStdString());
            QFont font = CardFace::previewFont();
            font.setPixelSize(static_cast<int>(std::lround(font.pixelSize() * scale)));
            const QList<QRectF> lines = CardFace::previewLines(text, font, box, corner);
            ASSERT_GE(lines.size(), 3);
            EXPECT_LE(lines.size(), CardFace::previewLineLimit);
            double below = box.top();
            for (const QRectF& line : lines) {
                EXPECT_GE(line.top(), below - 1e-6);
                EXPECT_LE(line.bottom(), box.bottom() + 1e-6);
                EXPECT_LE(line.right(), box.right() + 1);
                EXPECT_FALSE(line.intersects(corner));
                below = line.bottom();
            }
            // The box holds no further whole line.
            if (lines.size() < CardFace::previewLineLimit) {
                EXPECT_LT(box.bottom() - below, lines.last().height());
            }
        }
    }
    // The text's own line breaks stay breaks, whichever convention it uses:
    // "Hi", an empty line and "there" are three lines, not one.
    for (const char16_t* lineBreak : {u"\n", u"\r\n", u"\r", u"\u2028", u"\u2029", u"\u0085"}) {
        const QString text = QStringLiteral("Hi") + QString::fromUtf16(lineBreak) + QString::fromUtf16(lineBreak)
            + QStringLiteral("there");
        EXPECT_EQ(CardFace::previewLines(text, CardFace::previewFont(), box, corner).size(), 3)
            << QString::fromUtf16(lineBreak).toUcs4().first();
    }
}

// The take-down mark stands out from the card, and no text lies under it.
TEST(CardFaceTest, TakeDownMarkIsLegibleAndOffTheText)
{
    ControlledLineStore store;
    MemoryUserDefaults defaults;
    Line line(store, defaults, CountingThumbnails().maker());
    QList<Pegged> cards;
    for (const QString& text : {latin, chinese}) {
        Pegged card;
        card.id = QUuid::createUuid();
        card.kind = MaterialKind::text;
        card.previewText = text;
        card.displayTitle = text;
        cards.append(card);
    }
    line.revealed = true;
    line.items = cards;
    line.resizeViewport(500);
    LineHostingView view(line);
    view.lineView()->reduceMotionOverride = true;
    view.resize(500, 210);
    view.show();
    view.lineView()->rebuild();
    const auto render = [&] {
        QImage image(view.lineView()->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        view.lineView()->render(&image);
        return image;
    };
    const auto lightness = [](QRgb pixel) { return qGray(pixel) / 255.0; };
    const QImage plain = render();
    for (PeggedView* card : view.lineView()->cards()) {
        QEvent enter(QEvent::HoverEnter);
        QApplication::sendEvent(card->grabView(), &enter);
    }
    const QImage hovered = render();
    ASSERT_EQ(view.lineView()->cards().size(), 2);
    for (PeggedView* card : view.lineView()->cards()) {
        const QPointF centre = card->cardRect().topLeft() + QPointF(PeggedView::markCentre, PeggedView::markCentre);
        const double paper = lightness(plain.pixel(card->cardRect().center().toPoint() + QPoint(0, 30)));
        // Under the mark's disc the card is bare paper: no glyph's ink.
        double darkest = 1;
        for (int dy = -10; dy <= 10; ++dy) {
            for (int dx = -10; dx <= 10; ++dx) {
                if (dx * dx + dy * dy <= 100)
                    darkest = std::min(darkest, lightness(plain.pixel((centre + QPointF(dx, dy)).toPoint())));
            }
        }
        EXPECT_GT(darkest, paper - 0.1);
        // Shown, its disc differs from the paper as text does, and its cross from the disc.
        const double disc = lightness(hovered.pixel((centre + QPointF(0, -6)).toPoint()));
        const double cross = lightness(hovered.pixel(centre.toPoint()));
        EXPECT_GT(paper - disc, 0.5);
        EXPECT_GT(cross - disc, 0.4);
    }
}

} // namespace
} // namespace tolvex
