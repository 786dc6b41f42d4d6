#include "Velmarin/Shelf/LineInputFeedbackLabel.h"

namespace tolvex {

LineInputFeedbackLabel::LineInputFeedbackLabel(QWidget* parent) : QLabel(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    setAlignment(Qt::AlignCenter);
    setForegroundRole(QPalette::PlaceholderText);
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
    setText(fontMetrics().elidedText(full_, Qt::ElideRight, std::max(width(), 0)));
}

} // namespace tolvex
