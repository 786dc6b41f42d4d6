#include "Velmarin/Shelf/LineInputFeedbackLabel.h"

#include "Velmarin/Presentation/PanelAppearance.h"

#include <QPainter>

#include <algorithm>

namespace tolvex {

namespace {

constexpr int padding = 10;
constexpr int backdropHeight = 20;

} // namespace

LineInputFeedbackLabel::LineInputFeedbackLabel(QWidget* parent) : QLabel(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    setAlignment(Qt::AlignCenter);
}

QColor LineInputFeedbackLabel::backdrop(const QPalette& palette)
{
    return PanelAppearance::paper(palette);
}

QColor LineInputFeedbackLabel::ink(const QPalette& palette)
{
    return PanelAppearance::forest(palette);
}

void LineInputFeedbackLabel::setFeedback(const QString& text)
{
    full_ = text;
    setToolTip(text);
    elide();
}

void LineInputFeedbackLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void LineInputFeedbackLabel::elide()
{
    setText(fontMetrics().elidedText(full_, Qt::ElideRight, std::max(width() - 2 * padding, 0)));
}

QRect LineInputFeedbackLabel::backdropRect() const
{
    if (text().isEmpty())
        return {};
    const int wide = std::min(fontMetrics().horizontalAdvance(text()) + 2 * padding, width());
    const int high = std::min(backdropHeight, height());
    return QRect((width() - wide) / 2, (height() - high) / 2, wide, high);
}

void LineInputFeedbackLabel::paintEvent(QPaintEvent*)
{
    const QRect pill = backdropRect();
    if (pill.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor edge = PanelAppearance::rope(palette());
    edge.setAlphaF(0.6f);
    painter.setPen(QPen(edge, 1));
    painter.setBrush(backdrop(palette()));
    painter.drawRoundedRect(QRectF(pill).adjusted(0.5, 0.5, -0.5, -0.5), pill.height() / 2.0, pill.height() / 2.0);
    painter.setPen(ink(palette()));
    painter.setFont(font());
    painter.drawText(pill, Qt::AlignCenter, text());
}

} // namespace tolvex
