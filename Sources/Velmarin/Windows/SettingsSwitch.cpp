#include "Velmarin/Windows/SettingsSwitch.h"

#include "Velmarin/Presentation/PanelAppearance.h"

#include <QPainter>

namespace tolvex {

namespace {

constexpr int trackWidth = 44;
constexpr int trackHeight = 24;
constexpr int knobInset = 3;

} // namespace

SettingsSwitch::SettingsSwitch(QWidget* parent) : QCheckBox(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
}

QSize SettingsSwitch::sizeHint() const
{
    // Room for the focus ring around the track.
    return {trackWidth + 4, trackHeight + 4};
}

QColor SettingsSwitch::trackColour(bool on, const QPalette& palette)
{
    if (on)
        return PanelAppearance::forest(palette);
    return PanelAppearance::isDark(palette) ? QColor(0x3a, 0x3b, 0x38) : QColor(0xe4, 0xe2, 0xdc);
}

QColor SettingsSwitch::outlineColour(const QPalette& palette)
{
    return PanelAppearance::isDark(palette) ? QColor(0x8a, 0x8b, 0x85) : QColor(0x8c, 0x8a, 0x82);
}

bool SettingsSwitch::hitButton(const QPoint& position) const
{
    return rect().contains(position);
}

void SettingsSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    const bool on = isChecked();
    const bool dark = PanelAppearance::isDark(palette());
    const QRectF track(2, 2, trackWidth, trackHeight);
    const qreal radius = trackHeight / 2.0;
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    }
    // Off keeps an outline, so the pale track still reads as a control.
    const QColor outline = on ? trackColour(true, palette()) : outlineColour(palette());
    painter.setPen(QPen(outline, 1.5));
    painter.setBrush(trackColour(on, palette()));
    painter.drawRoundedRect(track.adjusted(0.75, 0.75, -0.75, -0.75), radius, radius);

    const qreal knob = trackHeight - 2 * knobInset;
    const qreal x = on ? track.right() - knobInset - knob : track.left() + knobInset;
    painter.setPen(on ? Qt::NoPen : QPen(outline, 1));
    painter.setBrush(on ? PanelAppearance::paper(palette()) : (dark ? QColor(0xc8, 0xc8, 0xc2) : QColor(Qt::white)));
    painter.drawEllipse(QRectF(x, track.top() + knobInset, knob, knob));
}

} // namespace tolvex
