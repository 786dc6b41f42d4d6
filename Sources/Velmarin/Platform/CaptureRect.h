#pragma once

#include <QByteArray>
#include <QRectF>
#include <QString>

#include <array>
#include <optional>

namespace tolvex {

// Where on the screen a screenshot was taken, as the capturing tool noted
// it in the file's extended attribute: a property list of four numbers, x,
// y, width and height, measured from the top-left of the main screen.
namespace CaptureRect {

inline constexpr char attributeName[] = "user.com.apple.metadata:kMDItemScreenCaptureGlobalRect";
inline constexpr qsizetype largestAttribute = 16384;

// The four numbers of a property list (XML, binary or the old text form);
// nothing unless it is a list of exactly four numbers.
std::optional<std::array<double, 4>> parseNumbers(const QByteArray& plist);

// The rectangle in global coordinates (y down) for attribute bytes, given
// the main screen's geometry; nothing for a malformed or degenerate one.
std::optional<QRectF> fromAttribute(const QByteArray& plist, const QRectF& mainScreen);

// Reads the file's attribute (following links) against the first screen.
std::optional<QRectF> of(const QString& path);

} // namespace CaptureRect

} // namespace tolvex
