#pragma once

#include "Velmarin/Shelf/Pegged.h"

#include <QFont>
#include <QList>
#include <QRectF>

class QPaintDevice;
class QPainter;
class QPalette;
class QTextLayout;

namespace tolvex {

// What a card shows on its mat, drawn once per content into the card's
// face: the mat, the picture or the text preview and the title row; and
// the card's shadow.
class CardFace {
public:
    static constexpr int previewLineLimit = 4;

    // The face in `card` (the mat's outer frame). `corner` is the take-down
    // mark's square: the preview's lines beside it start right of it.
    static void paint(QPainter& painter, const QRectF& card, const Pegged& item, const QPalette& palette,
        const QRectF& corner);
    // Black, deeper and softer with `hover` (0 … 1).
    static void paintShadow(QPainter& painter, const QRectF& card, double hover);

    static QFont previewFont();
    // The preview's lines as laid out for `device`: at most four, each whole
    // inside `box` (a line the box would cut is left out, whatever fonts its
    // script falls back to), those beside `corner` starting right of it.
    static QList<QRectF> previewLines(const QString& text, const QFont& font, const QRectF& box, const QRectF& corner,
        const QPaintDevice* device = nullptr);

private:
    // Lays the lines out; answers how many fit.
    static int layOutPreview(QTextLayout& layout, const QRectF& box, const QRectF& corner);
};

} // namespace tolvex
