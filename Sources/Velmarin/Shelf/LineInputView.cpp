#include "Velmarin/Shelf/LineInputView.h"

#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineDropTarget.h"
#include "Velmarin/Shelf/RopeSettingsButton.h"

#include <QPainter>

namespace tolvex {

LineInputView::LineInputView(Line& line, QWidget* parent) : QWidget(parent), line_(&line)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    target_ = new LineDropTarget(this);
    // The red stretch lies among the cards, so that it can take a click
    // even where a card hangs over it.
    if (parent)
        target_->hostButtonIn(parent);
    auto configure = [this](const auto&) {
        if (line_)
            DropReceiver::configure(*target_, *line_);
    };
    subscriptions_.push_back(line.dropCount.subscribe([this, configure](int count) {
        configure(count);
        if (parentWidget())
            parentWidget()->update();
    }));
    subscriptions_.push_back(line.revealed.subscribe(configure));
    subscriptions_.push_back(line.canReceiveInput.subscribe(configure));
    subscriptions_.push_back(line.canOpenIntakeSettings.subscribe(configure));
    subscriptions_.push_back(line.inputFeedback.subscribe(configure));
    subscriptions_.push_back(line.snapshot.subscribe(configure));
}

void LineInputView::refresh()
{
    if (line_)
        DropReceiver::configure(*target_, *line_);
}

LineInputView::~LineInputView() = default;

void LineInputView::resizeEvent(QResizeEvent*)
{
    target_->setGeometry(rect());
}

void LineInputView::paintHighlight(QPainter& painter) const
{
    if (!line_ || line_->dropCount() < 1)
        return;
    const QRectF area = QRectF(geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor accent = palette().color(QPalette::Highlight);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = accent;
    fill.setAlphaF(0.14);
    painter.setBrush(fill);
    painter.setPen(QPen(accent, 1));
    painter.drawRoundedRect(area, 12, 12);
    QFont font;
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::Text));
    // Every "%d" of the text is the count, whatever the translation does.
    QString text = appLocalizer().string(MessageKey::dropReady);
    text.replace(QStringLiteral("%d"), QString::number(line_->dropCount()));
    painter.drawText(area, Qt::AlignCenter, text);
    painter.restore();
}

} // namespace tolvex
