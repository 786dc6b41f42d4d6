#pragma once

#include <QCheckBox>

namespace tolvex {

// The on/off switch of a settings row: a track filled in forest with the
// knob on the right when on, a pale outlined track with the knob on the
// left when off, so the two states differ at a glance (a check box of the
// desktop's style can look almost the same either way). A QCheckBox still,
// for its signals, keyboard and accessibility.
class SettingsSwitch final : public QCheckBox {
public:
    explicit SettingsSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The track's fill for a state, for a palette.
    static QColor trackColour(bool on, const QPalette& palette);
    // The outline that keeps a pale, off control readable as a control.
    static QColor outlineColour(const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;
};

} // namespace tolvex
