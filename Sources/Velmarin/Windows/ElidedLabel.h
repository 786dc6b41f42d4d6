#pragma once

#include <QLabel>

namespace tolvex {

// A one-line label for a name of any length (a title, a file's path): line
// breaks and runs of white space become single spaces, and a text wider
// than the label is cut with an ellipsis where `mode` says. The whole text
// stays the tooltip. It asks for the whole text's width and gives way down
// to a few characters, so a row of buttons beside it keeps its room.
class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, Qt::TextElideMode mode = Qt::ElideRight, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    // The text as given, flattened to one line.
    const QString& fullText() const { return full_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refit();

    QString full_;
    Qt::TextElideMode mode_;
};

} // namespace tolvex
