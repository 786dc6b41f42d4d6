#pragma once

#include <QString>
#include <QVariant>

#include <optional>

class QScreen;

namespace tolvex {

// Whether a screen now shows an ordinary desktop or a full-screen window;
// the shelf keeps out of the way of the latter. Whenever the answer cannot
// be told (no X11, no EWMH window manager, an unexpected shape) it is
// `unknown`, and the presentation rules decide what that permits.
namespace FullScreen {

enum class State { desktop, fullScreen, unknown };

// The display spaces in this shape: a list with one map per display,
//   { "Display Identifier": <string>, "Current Space": { "type": <number> } }
// where type 0 is a desktop and 4 a full-screen space. One display is used
// whatever the identifier; among several, exactly one must match it.
State parse(const QVariant& answer, const std::optional<QString>& displayIdentifier);

// The name the display spaces use for a screen (its RandR monitor name).
std::optional<QString> uuidString(const QScreen* screen);

// The state of the screen of that name, asked of the window manager now.
State state(const std::optional<QString>& displayIdentifier);

} // namespace FullScreen

} // namespace tolvex
