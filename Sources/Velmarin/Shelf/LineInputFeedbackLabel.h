#pragma once

#include <QLabel>

namespace tolvex {

// The one-line feedback under the rope. It never takes a click: clicks
// fall through to the drop target below it. The panel is transparent, so
// the text sits on a paper backdrop of its own: read against the desktop
// behind it, no ink colour is legible on every wallpaper.
class LineInputFeedbackLabel final : public QLabel {
public:
    explicit LineInputFeedbackLabel(QWidget* parent = nullptr);

    void setFeedback(const QString& text);

    // The backdrop behind the text and the text's colour, for a palette.
    static QColor backdrop(const QPalette& palette);
    static QColor ink(const QPalette& palette);
    // Where the backdrop is drawn: around the shown text, centred.
    QRect backdropRect() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void elide();
    QString full_;
};

} // namespace tolvex
