#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Texts/MessageKey.h"

#include <QList>
#include <QString>

#include <functional>

class QLabel;
class QScrollArea;
class QVBoxLayout;
class QWidget;

namespace tolvex {

// The pieces the recovery window and the taken-down history are built
// from: a list column opened by a help text, rows of a caption and buttons,
// and the one content widget of a window, replaced whole on each rebuild.
namespace RecoveryLists {

// " · ", between the parts of a caption.
QString middleDot();
QString text(MessageKey key);
QLabel* label(const QString& content, bool wraps);
// A name on one line, cut with an ellipsis where it is too long.
QLabel* oneLine(const QString& content);
// A row's caption: what the item is (a title, cut to one line), and below
// it, in the secondary colour, what became of it (its state, its marks, its
// date), wrapped rather than cut, since that is what the row is there to say.
QWidget* twoLines(const QString& title, const QString& detail);
// A date and time as the localizer's language writes them, briefly, to the
// second, in one unbreakable piece.
QString when(Date date);
// A column opened by a wrapping help text.
QVBoxLayout* listColumn(QWidget* stack, MessageKey help);

struct RowAction {
    MessageKey title;
    std::function<void()> handler;
};
// One item of a list: its caption, then a button per action. A negative
// spacing leaves the row at the layout's default.
void addRow(QVBoxLayout* list, QWidget* caption, int spacing, const QList<RowAction>& actions);

QWidget* makeWindow(const QString& title);
QScrollArea* scrollAround(QWidget* stack);
QWidget* contentOf(QWidget* window);
void setContent(QWidget* window, QWidget* content);
// Centred on its screen, in front and active.
void present(QWidget* window);
// What a privacy cover does to a window the controller lets go of: hidden,
// emptied of the library's content, and freed once the running click, if
// any, has returned.
void coverAndRelease(QWidget* window);

} // namespace RecoveryLists

} // namespace tolvex
