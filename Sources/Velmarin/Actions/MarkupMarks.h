#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPointF>
#include <QString>

namespace tolvex {

// One mark of the markup editor, in image pixels.
struct MarkupMark {
    enum class Tool { pen, highlighter, rectangle, arrow, text };

    Tool tool = Tool::pen;
    QColor color = Qt::red;
    qreal width = 4;
    // A pen or highlighter stroke: every point; a rectangle or an arrow: the
    // first and the last; a text: where it starts.
    QList<QPointF> points;
    QString text;
};

// Paints marks with the painter's transform mapping image pixels to the
// device, so the editor and the final render draw the very same marks.
void paintMarks(QPainter& painter, const QList<MarkupMark>& marks);

// The image with the marks drawn on, at its full resolution.
QImage renderMarks(const QImage& base, const QList<MarkupMark>& marks);

} // namespace tolvex
