#pragma once

#include "Velmarin/Actions/MarkupMarks.h"

#include <QImage>
#include <QTransform>
#include <QWidget>

#include <functional>
#include <optional>

namespace tolvex {

// The drawing surface of the markup editor: the image scaled to fit, and the
// marks the pointer makes on it, kept in image pixels. A large image is drawn
// from a smaller copy of it (`view`), so painting never scales the full
// picture; the marks are made in the image's own pixels all the same.
class MarkupCanvas final : public QWidget {
public:
    explicit MarkupCanvas(QImage image, QImage view = {}, QWidget* parent = nullptr);

    MarkupMark::Tool tool = MarkupMark::Tool::pen;
    QColor color = Qt::red;
    // On screen: a mark is as wide as chosen whatever the image's scale.
    qreal penWidth = 4;
    // Asked for the words of a text mark; empty or none places nothing.
    std::function<std::optional<QString>()> askText;
    // After every change of the marks.
    std::function<void()> onChange;

    const QImage& image() const { return image_; }
    const QList<MarkupMark>& marks() const { return marks_; }
    bool canUndo() const { return !marks_.isEmpty(); }
    bool canRedo() const { return !undone_.isEmpty(); }
    void undo();
    void redo();

    // Where an image pixel lies on the widget now.
    QPointF toWidget(const QPointF& imagePoint) const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QTransform imageToWidget() const;
    QPointF toImage(const QPointF& widgetPoint) const;
    void changed();

    // The width of the mark being started, in image pixels.
    qreal markWidth() const;

    QImage image_;
    QImage view_;
    QList<MarkupMark> marks_;
    QList<MarkupMark> undone_;
    std::optional<MarkupMark> drawing_;
};

} // namespace tolvex
