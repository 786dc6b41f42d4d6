#include "Velmarin/Actions/MarkupCanvas.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace tolvex {

MarkupCanvas::MarkupCanvas(QImage image, QImage view, QWidget* parent)
    : QWidget(parent), image_(std::move(image)), view_(view.isNull() ? image_ : std::move(view))
{
    setMinimumSize(200, 150);
    setCursor(Qt::CrossCursor);
}

QSize MarkupCanvas::sizeHint() const
{
    return image_.size().scaled(QSize(1000, 700), Qt::KeepAspectRatio).boundedTo(image_.size()).expandedTo(
        minimumSize());
}

QTransform MarkupCanvas::imageToWidget() const
{
    if (image_.isNull())
        return {};
    // Never enlarged: a small screenshot stays sharp.
    const qreal scale
        = std::min({qreal(1), qreal(width()) / image_.width(), qreal(height()) / image_.height()});
    const qreal dx = (width() - image_.width() * scale) / 2;
    const qreal dy = (height() - image_.height() * scale) / 2;
    return QTransform(scale, 0, 0, scale, dx, dy);
}

qreal MarkupCanvas::markWidth() const
{
    const qreal scale = imageToWidget().m11();
    return scale > 0 ? penWidth / scale : penWidth;
}

QPointF MarkupCanvas::toWidget(const QPointF& imagePoint) const
{
    return imageToWidget().map(imagePoint);
}

QPointF MarkupCanvas::toImage(const QPointF& widgetPoint) const
{
    return imageToWidget().inverted().map(widgetPoint);
}

void MarkupCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setTransform(imageToWidget());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(0, 0), image_.size()), view_);
    QList<MarkupMark> shown = marks_;
    if (drawing_)
        shown.append(*drawing_);
    paintMarks(painter, shown);
}

void MarkupCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF at = toImage(event->position());
    const qreal width = markWidth();
    if (tool == MarkupMark::Tool::text) {
        // The question runs a modal loop, during which the editor may go away.
        const QPointer<MarkupCanvas> self(this);
        const std::optional<QString> words = askText ? askText() : std::nullopt;
        if (!self)
            return;
        if (words && !words->trimmed().isEmpty()) {
            marks_.append(MarkupMark{tool, color, width, {at}, *words});
            undone_.clear();
            changed();
        }
        return;
    }
    drawing_ = MarkupMark{tool, color, width, {at}, {}};
    update();
}

void MarkupCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if (!drawing_)
        return;
    const QPointF at = toImage(event->position());
    if (drawing_->tool == MarkupMark::Tool::pen || drawing_->tool == MarkupMark::Tool::highlighter)
        drawing_->points.append(at);
    else if (drawing_->points.size() == 1)
        drawing_->points.append(at);
    else
        drawing_->points.last() = at;
    update();
}

void MarkupCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (!drawing_ || event->button() != Qt::LeftButton)
        return;
    mouseMoveEvent(event);
    marks_.append(*drawing_);
    drawing_.reset();
    undone_.clear();
    changed();
}

void MarkupCanvas::undo()
{
    if (marks_.isEmpty())
        return;
    undone_.append(marks_.takeLast());
    changed();
}

void MarkupCanvas::redo()
{
    if (undone_.isEmpty())
        return;
    marks_.append(undone_.takeLast());
    changed();
}

void MarkupCanvas::changed()
{
    update();
    if (onChange)
        onChange();
}

} // namespace tolvex
