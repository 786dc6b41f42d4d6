#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QUrl>

#include <optional>

namespace tolvex {

// The attribute in which screenshot tools record where on screen a capture
// was taken: a property list holding x, y, width and height, measured from
// the top left of the main screen.
inline constexpr const char* captureRectAttribute = "user.com.apple.metadata:kMDItemScreenCaptureGlobalRect";
// Larger attribute values are not read.
inline constexpr qsizetype captureRectAttributeLimit = 16384;

// The screen rectangle (virtual-desktop coordinates) of the capture in the
// file, from its attribute, for the flight onto the shelf; none when the file
// has no usable attribute or there is no screen.
std::optional<QRectF> captureRect(const QUrl& file);

// The same from an attribute's value and the screens' geometries, the main
// screen first. The value is anyone's input: a rectangle that meets no
// screen gives none, and the rest is clipped to the screens' bounds, so that
// nothing downstream turns a huge number into integer geometry.
std::optional<QRectF> captureRect(const QByteArray& attribute, const QList<QRect>& screens);

} // namespace tolvex
