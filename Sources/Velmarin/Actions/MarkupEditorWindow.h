#pragma once

#include "Velmarin/Common/Published.h"

#include <QImage>
#include <QWidget>

#include <QPointer>

#include <functional>
#include <optional>

class QButtonGroup;

namespace tolvex {

class ActionButton;
class Line;
class MarkupCanvas;

// Our markup editor: pen, highlighter, rectangle, arrow and text tools, a few
// colours and widths, undo and redo. It ends exactly once: the save button
// hands over the image with the marks drawn at full resolution; Cancel,
// Escape and closing the window end it without one. It deletes itself when
// closed.
class MarkupEditorWindow final : public QWidget {
public:
    // `view`, when given, is a smaller copy of `image` to draw on screen.
    explicit MarkupEditorWindow(QImage image, QImage view = {}, QWidget* parent = nullptr);
    ~MarkupEditorWindow() override;

    std::function<void(QImage)> onDone;
    std::function<void()> onCancel;

    MarkupCanvas* canvas() const { return canvas_; }
    // Hidden while the line is covered for privacy, marks and all kept, and
    // shown again when it is uncovered; the text tool's question is one of
    // the line's modals, which a cover ends.
    void followPrivacy(Line& line);
    // Presses the save or the cancel button, as a click would.
    void finishEditing();
    void cancelEditing();
    // Ends without an answer and goes away: its session is over.
    void dismiss();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void refreshHistory();
    void end(bool done);
    std::optional<QString> askText();

    MarkupCanvas* canvas_ = nullptr;
    ActionButton* undo_ = nullptr;
    ActionButton* redo_ = nullptr;
    bool ended_ = false;
    QPointer<Line> line_;
    Subscription privacy_;
};

} // namespace tolvex
