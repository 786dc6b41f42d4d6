#pragma once

#include "Velmarin/Common/Published.h"

#include <QImage>
#include <QMessageBox>
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
// Escape and closing the window end it without one, after asking whether to
// discard the marks when there are any. It deletes itself when closed. It
// first shows fitted to its screen and centred there.
class MarkupEditorWindow final : public QWidget {
public:
    // `view`, when given, is a smaller copy of `image` to draw on screen.
    explicit MarkupEditorWindow(QImage image, QImage view = {}, QWidget* parent = nullptr);
    ~MarkupEditorWindow() override;

    std::function<void(QImage)> onDone;
    std::function<void()> onCancel;

    MarkupCanvas* canvas() const { return canvas_; }
    // Hidden while the line is covered for privacy, marks and all kept, and
    // shown again when it is uncovered; the text tool's question and the
    // question before discarding are the line's modals, which a cover ends.
    void followPrivacy(Line& line);
    // Presses the save or the cancel button, as a click would.
    void finishEditing();
    void cancelEditing();
    // Ends without an answer and goes away: its session is over. An open
    // question ends unanswered.
    void dismiss();

    // The first showing fits the window to its screen and centres it there,
    // before the window exists on the screen, so the frame counts.
    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void refreshHistory();
    void end(bool done);
    std::optional<QString> askText();
    // True when nothing is drawn, or the user chose to discard the marks.
    bool mayLeave();

    MarkupCanvas* canvas_ = nullptr;
    ActionButton* undo_ = nullptr;
    ActionButton* redo_ = nullptr;
    bool ended_ = false;
    bool placed_ = false;
    // The discard question while it runs; a dismissal meanwhile leaves the
    // deleting to the asker, which still runs in this window.
    QPointer<QMessageBox> question_;
    bool dismissed_ = false;
    QPointer<Line> line_;
    Subscription privacy_;
};

} // namespace tolvex
