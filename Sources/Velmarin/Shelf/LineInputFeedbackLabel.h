#pragma once

#include <QLabel>

namespace tolvex {

// The one-line feedback under the rope. It never takes a click: clicks
// fall through to the drop target below it.
class LineInputFeedbackLabel final : public QLabel {
public:
    explicit LineInputFeedbackLabel(QWidget* parent = nullptr);

    void setFeedback(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString full_;
};

} // namespace tolvex
