#pragma once

#include "Velmarin/Common/Published.h"

#include <functional>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

namespace tolvex {

class Line;

// The frame the editors and the detail window share: the panel surface
// filling the window, the content and the cover label stacked on it, the
// footer under a separator line and the primary button's keys.
namespace EditorFrame {

// A panel surface filling the window, and the grid on it in which the
// content and the cover label lie on top of each other.
struct Surface {
    QWidget* root;
    QGridLayout* stack;
};
// The window keeps at least the minimum size it had when the surface was
// made, and grows to what its content needs.
Surface makeSurface(QWidget* window);

// Puts `content` and the centred "hidden" caption into the surface's one
// cell; returns the caption, which the owner shows instead of the content
// while the line is covered.
QLabel* stackWithCover(const Surface& surface, QWidget* content);

// A footer of fixed height under a separator line, holding `row` centred
// vertically, with the windows' side margins.
QWidget* makeFooter(QWidget* parent, QHBoxLayout* row);

// Styles the window's primary button and makes it the default; with a
// window, Ctrl+Return and Ctrl+Enter anywhere in it click the button too.
void makePrimary(QPushButton* button, QWidget* submitKeysIn = nullptr);

// Fits the window, frame and all, into its screen's available area (as far
// as its minimum size allows), centres it there, shows it and makes it the
// active window.
void present(QWidget* window);

// Calls `changed` with the line's privacy state now and on every change of
// it; repeats of the same state are not passed on.
[[nodiscard]] Subscription followPrivacy(Line& line, std::function<void(bool hidden)> changed);

} // namespace EditorFrame

} // namespace tolvex
