#include "Velmarin/Windows/ElidedLabel.h"

#include <QEvent>

#include <algorithm>

namespace tolvex {

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent), mode_(mode)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text)
{
    full_ = text.simplified();
    setToolTip(full_);
    updateGeometry();
    refit();
}

QSize ElidedLabel::sizeHint() const
{
    // Measured as QLabel measures what it draws, whose line may be taller
    // than the font's height.
    const QRect line = fontMetrics().boundingRect(
        QRect(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX), Qt::AlignLeft | Qt::TextSingleLine, full_);
    const QMargins margins = contentsMargins();
    return {line.width() + margins.left() + margins.right() + 2 * margin(),
        std::max(line.height(), fontMetrics().height()) + margins.top() + margins.bottom() + 2 * margin()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QSize whole = sizeHint();
    const int least = fontMetrics().horizontalAdvance(QStringLiteral("MMM\u2026"));
    return {std::min(whole.width(), least), whole.height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    refit();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        refit();
    }
}

void ElidedLabel::refit()
{
    const int room = contentsRect().width() - 2 * margin();
    const QString shown = fontMetrics().elidedText(full_, mode_, std::max(room, 0));
    if (shown != text())
        QLabel::setText(shown);
}

} // namespace tolvex
