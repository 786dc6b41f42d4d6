#include "Velmarin/Actions/MarkupMarks.h"

#include <QFont>
#include <QPainterPath>
#include <QtMath>

namespace tolvex {

namespace {

void paintArrow(QPainter& painter, const QPointF& from, const QPointF& to, qreal width)
{
    painter.drawLine(from, to);
    const QPointF along = to - from;
    const qreal length = std::hypot(along.x(), along.y());
    if (length < 1)
        return;
    const qreal head = std::max<qreal>(width * 4, 10);
    const qreal angle = std::atan2(along.y(), along.x());
    for (const qreal side : {-1.0, 1.0}) {
        const qreal wing = angle + M_PI + side * M_PI / 7;
        painter.drawLine(to, to + QPointF(std::cos(wing), std::sin(wing)) * head);
    }
}

} // namespace

void paintMarks(QPainter& painter, const QList<MarkupMark>& marks)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (const MarkupMark& mark : marks) {
        if (mark.points.isEmpty())
            continue;
        QColor color = mark.color;
        qreal width = mark.width;
        if (mark.tool == MarkupMark::Tool::highlighter) {
            // Translucent and broad, so the marked text stays legible.
            color.setAlphaF(0.35);
            width *= 3;
        }
        QPen pen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        switch (mark.tool) {
        case MarkupMark::Tool::pen:
        case MarkupMark::Tool::highlighter: {
            if (mark.points.size() == 1) {
                painter.drawPoint(mark.points.first());
                break;
            }
            QPainterPath path(mark.points.first());
            for (qsizetype i = 1; i < mark.points.size(); ++i)
                path.lineTo(mark.points[i]);
            painter.drawPath(path);
            break;
        }
        case MarkupMark::Tool::rectangle:
            painter.drawRect(QRectF(mark.points.first(), mark.points.last()).normalized());
            break;
        case MarkupMark::Tool::arrow:
            paintArrow(painter, mark.points.first(), mark.points.last(), width);
            break;
        case MarkupMark::Tool::text: {
            QFont font = painter.font();
            font.setPixelSize(std::max(12, qRound(width * 6)));
            painter.setFont(font);
            painter.drawText(mark.points.first(), mark.text);
            break;
        }
        }
    }
    painter.restore();
}

QImage renderMarks(const QImage& base, const QList<MarkupMark>& marks)
{
    QImage result = base.convertToFormat(
        base.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    QPainter painter(&result);
    paintMarks(painter, marks);
    painter.end();
    return result;
}

} // namespace tolvex
