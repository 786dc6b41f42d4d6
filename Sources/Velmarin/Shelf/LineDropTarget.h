#pragma once

#include "TolvexCore/Model/ImportRequest.h"
#include "Velmarin/Platform/Pasteboard.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <exception>
#include <functional>

class QMenu;
class QMimeData;

namespace tolvex {

class Line;
class LineInputFeedbackLabel;
class RopeSettingsButton;

// The rope's input strip: takes files, images and text dropped from other
// programs (never drags from this one), reads them with the clipboard's
// own reader, marks them as dropped and hands them to the line. It also
// holds the red stretch of rope and the one-line feedback, and offers the
// rope menu.
class LineDropTarget final : public QWidget {
public:
    static constexpr qsizetype largestDrop = 32;

    explicit LineDropTarget(QWidget* parent = nullptr);

    std::function<bool()> canReceive = [] { return true; };
    std::function<bool()> canOpenSettings = [] { return true; };
    std::function<bool()> canNewNote = [] { return true; };
    std::function<bool(const QList<ImportRequest>&)> onReceive = [](const QList<ImportRequest>&) { return false; };
    std::function<void(int)> onHover = [](int) {};
    std::function<void()> onPaste = [] {};
    std::function<void()> onOpenSettings = [] {};
    std::function<void()> onNewNote = [] {};
    // The read of the dropped items failed, with this error; called from
    // the event loop after the drop has been answered.
    std::function<void(std::exception_ptr)> onRejected = [](std::exception_ptr) {};
    // The shell's rope menu, a new one each time; the caller owns it.
    std::function<QMenu*()> ropeMenuProvider;

    QString feedback() const { return feedback_; }
    void setFeedback(const QString& text);
    RopeSettingsButton* settingsButton() const { return button_; }

    // How many items of a pasteboard would be taken: the files, else the
    // images, else the texts; none of more than 32 items, none of ours.
    static int candidateCount(const QList<PasteboardItem>& items);
    // Reads a pasteboard and hands it on; answers whether it was accepted.
    // A failed read reaches onRejected only after this has returned.
    bool receive(std::shared_ptr<Pasteboard> pasteboard);
    // The drag operation a hovering drag is offered (copy or none).
    Qt::DropAction hover(const QMimeData* data, Qt::DropActions offered, bool fromThisProgram);

    QMenu* ropeMenu();
    void newNote();
    // The red stretch when it should take a click at `point` (in `view`)
    // instead of `ordinaryHit`, else none.
    QWidget* settingsHit(QPointF point, const QWidget* view, const QWidget* ordinaryHit) const;
    // Where the red stretch takes clicks over the cards (button coordinates).
    QRegion stretchRegion() const;
    // Moves the button into `strip`, the cards' parent, so that it can lie
    // above them (its shape then limited to the stretch where they overlap).
    void hostButtonIn(QWidget* strip);
    // Gives the button its whole region, or only the stretch when a card
    // overlaps it.
    void shapeButton(bool cardsOverlap);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void layoutChildren();

    QString feedback_;
    RopeSettingsButton* button_ = nullptr;
    LineInputFeedbackLabel* label_ = nullptr;
};

// Wires a drop target to the line; run at creation and on every change
// of what it reads.
namespace DropReceiver {
void configure(LineDropTarget& target, Line& line);
}

} // namespace tolvex
