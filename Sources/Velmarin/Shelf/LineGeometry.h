#pragma once

#include <QRectF>

#include <cstddef>

namespace tolvex {

// The numbers of the card row, in strip coordinates (origin top-left, y
// down, points). Pure functions of the card count n, the strip width w and
// the scroll offset, shared by the line, its views, the hit test and the
// fly-in target of a capture so that all of them agree.
namespace LineGeometry {

inline constexpr double pitch = 174;        // centre to centre
inline constexpr double cardWidth = 150;
inline constexpr double overflowSlack = 80; // after a row that overflows
inline constexpr double halfCard = 75;
inline constexpr double keyboardMargin = 20;
inline constexpr double arrivalMargin = 40;
inline constexpr double stripHeight = 210;
inline constexpr double hitMargin = 4;
inline constexpr double buildReach = 423;   // beyond each edge
inline constexpr std::ptrdiff_t wholeRowLimit = 32;

double contentWidth(std::ptrdiff_t n, double w);
double maxScrollOffset(std::ptrdiff_t n, double w);
// A card's centre in row coordinates, before scrolling.
double rowCentre(std::ptrdiff_t index, std::ptrdiff_t n, double w);
// The same on the strip, with the scroll applied (clamped to the row).
double cardX(std::ptrdiff_t index, std::ptrdiff_t n, double w, double scrollOffset);
// Where drops and pastes land.
QRectF ropeInputStrip(double w);
// Where the page chevrons sit when the row overflows.
QRectF pageControls(double w);

} // namespace LineGeometry

} // namespace tolvex
