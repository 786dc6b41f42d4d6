#pragma once

#include <QIcon>
#include <QString>

namespace tolvex {

// The program's own icon, shared by the tray, every window and the desktop
// entry: the SVG installed under the freedesktop icon name, read back by the
// program from the prefix it runs from, or from beside a build-tree
// executable.
namespace ProgramIcon {

// The freedesktop name of the program: its desktop entry and icon are named so.
inline constexpr char appID[] = "local.tolvex.Tolvex";

// The SVG for an executable in `executableFolder`: the installed one
// (<prefix>/share/icons/hicolor/scalable/apps, beside <prefix>/bin), else
// the one staged beside a build-tree executable; empty when neither exists.
QString svgPath(const QString& executableFolder);

// The icon from the SVG when Qt can read SVG here, else the same drawing
// painted by the program.
QIcon icon();

// The drawing itself, at `pixels` square.
QPixmap drawn(int pixels);

} // namespace ProgramIcon

} // namespace tolvex
