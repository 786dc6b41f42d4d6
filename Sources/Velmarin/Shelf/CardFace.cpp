#include "Velmarin/Shelf/CardFace.h"

#include "TolvexCore/Model/UnicodeText.h"
#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Shelf/PeggedView.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QTextLayout>

namespace tolvex {

namespace {

// Small glyphs of our own for the four kinds, drawn in `ink` inside `box`.
void paintKindGlyph(QPainter& painter, MaterialKind kind, const QRectF& box, const QColor& ink)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ink, 1.1));
    painter.setBrush(Qt::NoBrush);
    const QRectF r = box.adjusted(1, 1, -1, -1);
    switch (kind) {
    case MaterialKind::image: {
        painter.drawRoundedRect(r, 1.5, 1.5);
        QPainterPath hill;
        hill.moveTo(r.left() + 1, r.bottom() - 1);
        hill.lineTo(r.left() + r.width() * 0.4, r.top() + r.height() * 0.45);
        hill.lineTo(r.right() - 1, r.bottom() - 1);
        painter.drawPath(hill);
        break;
    }
    case MaterialKind::text:
        for (int i = 0; i < 4; ++i) {
            const double y = r.top() + 1 + i * (r.height() - 2) / 3;
            painter.drawLine(QPointF(r.left(), y), QPointF(i % 2 ? r.right() - 3 : r.right(), y));
        }
        break;
    case MaterialKind::pdf:
    case MaterialKind::file: {
        const QRectF page = r.adjusted(r.width() * 0.15, 0, -r.width() * 0.15, 0);
        painter.drawRoundedRect(page, 1, 1);
        if (kind == MaterialKind::pdf) {
            painter.drawLine(QPointF(page.left() + 2, page.center().y()), QPointF(page.right() - 2, page.center().y()));
            painter.drawLine(QPointF(page.left() + 2, page.center().y() + 2.5),
                QPointF(page.right() - 2, page.center().y() + 2.5));
        }
        break;
    }
    }
    painter.restore();
}

} // namespace

QFont CardFace::previewFont()
{
    QFont font;
    font.setPixelSize(12);
    return font;
}

namespace {

// A text layout breaks lines only at a line separator: the preview's own
// line breaks, whichever the text uses (CR LF, LF, CR, the paragraph
// separator and the other newlines the title's first line also breaks at),
// become separators, so a card keeps the text's paragraphs.
QString withLineSeparators(QString text)
{
    text.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    for (QChar& c : text) {
        if (UnicodeText::isNewline(c.unicode()))
            c = QChar::LineSeparator;
    }
    return text;
}

} // namespace

int CardFace::layOutPreview(QTextLayout& layout, const QRectF& box, const QRectF& corner)
{
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    // Each line is as tall as the fonts it holds: Chinese text falls back to
    // a font with a taller line than the Latin font's line spacing, so the
    // lines are measured, not counted.
    int fitting = 0;
    double y = box.top();
    layout.beginLayout();
    while (fitting < previewLineLimit) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        const double left = y < corner.bottom() ? std::max(box.left(), corner.right()) : box.left();
        line.setLineWidth(std::max(box.right() - left, 1.0));
        if (y + line.height() > box.bottom() + 1e-6)
            break;
        line.setPosition(QPointF(left, y));
        y += line.height();
        ++fitting;
    }
    layout.endLayout();
    return fitting;
}

QList<QRectF> CardFace::previewLines(const QString& text, const QFont& font, const QRectF& box, const QRectF& corner,
    const QPaintDevice* device)
{
    QTextLayout layout(withLineSeparators(text), font, device);
    const int lines = layOutPreview(layout, box, corner);
    QList<QRectF> rects;
    for (int index = 0; index < lines; ++index) {
        const QTextLine line = layout.lineAt(index);
        rects.append(QRectF(line.position(), QSizeF(line.naturalTextWidth(), line.height())));
    }
    return rects;
}

void CardFace::paintShadow(QPainter& painter, const QRectF& card, double hover)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double depth = 2 + 2 * hover;
    const double blur = 4 + 2 * hover;
    const double strength = 0.18 + 0.08 * hover;
    for (int ring = 3; ring >= 1; --ring) {
        const double grow = blur * ring / 3;
        painter.setBrush(QColor::fromRgbF(0, 0, 0, strength / 3));
        painter.drawRoundedRect(card.translated(0, depth).adjusted(-grow / 2, -grow / 2, grow / 2, grow / 2),
            6 + grow / 2, 6 + grow / 2);
    }
    painter.restore();
}

void CardFace::paint(QPainter& painter, const QRectF& card, const Pegged& item, const QPalette& palette, const QRectF& corner)
{
    const QColor paper = PanelAppearance::paper(palette);
    const QColor forest = PanelAppearance::forest(palette);
    QColor ropeColour = PanelAppearance::rope(palette);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    // The mat.
    painter.setPen(Qt::NoPen);
    painter.setBrush(paper);
    painter.drawRoundedRect(card, 6, 6);
    ropeColour.setAlphaF(0.35);
    painter.setPen(QPen(ropeColour, 0.75));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(card.adjusted(0.375, 0.375, -0.375, -0.375), 5.6, 5.6);

    // The photo area and the title row, clipped to a small rounding.
    const QRectF inner = card.adjusted(PeggedView::mat, PeggedView::mat, -PeggedView::mat, -PeggedView::mat);
    QPainterPath clip;
    clip.addRoundedRect(inner, 2, 2);
    painter.save();
    painter.setClipPath(clip);
    painter.fillRect(inner, paper);
    const QColor ink = palette.color(QPalette::Text);
    QFont titleFont;
    titleFont.setPixelSize(11);
    titleFont.setWeight(QFont::Medium);
    const double titleHeight = QFontMetricsF(titleFont).height();
    const QRectF titleRow(inner.left() + 7, inner.bottom() - 6 - titleHeight, inner.width() - 14, titleHeight);
    const QRectF photoArea(inner.left(), inner.top(), inner.width(), titleRow.top() - 4 - inner.top());
    if (item.previewText) {
        QTextLayout layout(withLineSeparators(*item.previewText), previewFont(), painter.device());
        const int lines = layOutPreview(layout, photoArea.adjusted(7, 7, -7, 0), corner);
        painter.setPen(ink);
        for (int index = 0; index < lines; ++index)
            layout.lineAt(index).draw(&painter, QPointF());
    } else if (!item.thumb.isNull() && photoArea.isValid()) {
        const QSizeF fitted = QSizeF(item.thumb.size()).scaled(photoArea.size(), Qt::KeepAspectRatio);
        const QRectF target(photoArea.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);
        painter.drawImage(target, item.thumb);
    }
    paintKindGlyph(painter, item.kind, QRectF(titleRow.left(), titleRow.center().y() - 5, 10, 10), forest);
    painter.setFont(titleFont);
    painter.setPen(ink);
    const QRectF titleText = titleRow.adjusted(14, 0, 0, 0);
    painter.drawText(titleText, Qt::AlignVCenter | Qt::AlignLeft,
        QFontMetricsF(titleFont).elidedText(PeggedView::firstLine(item.displayTitle), Qt::ElideRight, titleText.width()));
    painter.restore();
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.18), 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(inner.adjusted(0.25, 0.25, -0.25, -0.25), 2, 2);
}


} // namespace tolvex
