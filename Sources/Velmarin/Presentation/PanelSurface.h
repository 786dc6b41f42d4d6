#pragma once

#include <QWidget>

namespace tolvex {

// An opaque view painted in the paper colour: the background of the privacy
// placeholder and of the editor windows. Follows light/dark switches at once.
class PanelSurface : public QWidget {
public:
    explicit PanelSurface(QWidget* parent = nullptr);
    PanelSurface(const QRect& frame, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
};

} // namespace tolvex
