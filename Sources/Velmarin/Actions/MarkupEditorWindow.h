#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

class QButtonGroup;

namespace tolvex {

class ActionButton;
class MarkupCanvas;

// Our markup editor: pen, highlighter, rectangle, arrow and text tools, a few
// colours and widths, undo and redo. It ends exactly once: the save button
// hands over the image with the marks drawn at full resolution; Cancel,
// Escape and closing the window end it without one. It deletes itself when
// closed.
class MarkupEditorWindow final : public QWidget {
public:
    explicit MarkupEditorWindow(QImage image, QWidget* parent = nullptr);
    ~MarkupEditorWindow() override;

    std::function<void(QImage)> onDone;
    std::function<void()> onCancel;

    MarkupCanvas* canvas() const { return canvas_; }
    // Presses the save or the cancel button, as a click would.
    void finishEditing();
    void cancelEditing();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void refreshHistory();
    void end(bool done);

    MarkupCanvas* canvas_ = nullptr;
    ActionButton* undo_ = nullptr;
    ActionButton* redo_ = nullptr;
    bool ended_ = false;
};

} // namespace tolvex
