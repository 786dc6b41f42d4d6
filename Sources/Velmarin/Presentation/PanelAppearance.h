#pragma once

#include <QColor>
#include <QPalette>

class QTextEdit;
class QWidget;

namespace tolvex {

// The program's own colours, shared by every surface: paper behind windows
// and covers, forest ink for accents, and the rope. Each has a light and a
// dark value; which one applies follows the palette it is drawn with, so a
// light/dark switch of the desktop (a palette change) recolours everything.
namespace PanelAppearance {

enum class Colour { paper, forest, rope };

// Dark exactly when the palette's window background is darker than its
// text; any palette that does not say so reads as light.
bool isDark(const QPalette& palette);

QColor colour(Colour colour, const QPalette& palette);
inline QColor paper(const QPalette& palette) { return colour(Colour::paper, palette); }
inline QColor forest(const QPalette& palette) { return colour(Colour::forest, palette); }
inline QColor rope(const QPalette& palette) { return colour(Colour::rope, palette); }

// The contrast ratio of two opaque colours as the accessibility guidelines
// define it: from 1 (the same) to 21 (black on white).
double contrast(const QColor& one, const QColor& other);

// Paints a window's background (and its children's, unless they paint
// their own) in paper, following light/dark switches.
void paperWindow(QWidget* window);

// Styles a text editor: system font at 17 points, the palette's text
// colour on paper, 24 points of inset, line height 1.5. Applying it again
// (after a palette change) leaves one setting of each, never a compounded one.
void editor(QTextEdit* textView);

} // namespace PanelAppearance

} // namespace tolvex
